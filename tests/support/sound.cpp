#include "support/sound.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

void write_sound(const std::string& path, const Sound& sound, const SoundStrings& strings)
{
    SF_INFO info{};
    info.channels = sound.channels;
    info.samplerate = sound.rate;
    info.format = sound.format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    }
    for (const auto& [kind, text] : strings) {
        if (sf_set_string(file, kind, text.c_str()) != 0) {
            sf_close(file);
            throw std::runtime_error("cannot set a string of " + path);
        }
    }
    const sf_count_t frames = sound.frames();
    const sf_count_t written =
        frames == 0 ? 0 : sf_writef_float(file, sound.samples.data(), frames);
    if (frames == 0) {
        // libsndfile begins a FLAC stream only when asked, without frames.
        sf_command(file, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    }
    sf_close(file);
    if (written != frames) {
        throw std::runtime_error("short write to " + path);
    }
}

Sound read_sound(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    }
    Sound sound{info.channels, info.samplerate, info.format, {}};
    // Read to the end: a FLAC stream may not say how long it is.
    std::vector<float> chunk(std::size_t{4096} * static_cast<std::size_t>(info.channels));
    for (;;) {
        const sf_count_t read = sf_readf_float(file, chunk.data(), 4096);
        if (read <= 0) {
            break;
        }
        sound.samples.insert(sound.samples.end(), chunk.begin(),
                             chunk.begin() + read * info.channels);
    }
    const int error = sf_error(file);
    sf_close(file);
    if (error != 0 || (info.frames != SF_COUNT_MAX && sound.frames() != info.frames)) {
        throw std::runtime_error("short read from " + path);
    }
    return sound;
}

SoundStrings read_sound_strings(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    }
    SoundStrings strings;
    for (int kind = SF_STR_FIRST; kind <= SF_STR_LAST; ++kind) {
        if (const char* text = sf_get_string(file, kind)) {
            strings.emplace_back(kind, text);
        }
    }
    sf_close(file);
    return strings;
}

std::string to_raw_bytes(const std::vector<float>& samples)
{
    std::string bytes(samples.size() * sizeof(float), '\0');
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

std::vector<float> from_raw_bytes(const std::string& bytes)
{
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

void write_pcm16_mono(const std::string& path, const std::vector<short>& values, int rate)
{
    SF_INFO info{};
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    info.channels = 1;
    info.samplerate = rate;
    SNDFILE* handle = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(handle, nullptr) << path;
    EXPECT_EQ(sf_write_short(handle, values.data(), static_cast<sf_count_t>(values.size())),
              static_cast<sf_count_t>(values.size()));
    sf_close(handle);
}
