#include "support/sound.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

void write_sound(const std::string& path, const Sound& sound)
{
    SF_INFO info{};
    info.channels = sound.channels;
    info.samplerate = sound.rate;
    info.format = sound.format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    }
    const sf_count_t frames = sound.frames();
    const sf_count_t written = sf_writef_float(file, sound.samples.data(), frames);
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
    sound.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(file, sound.samples.data(), info.frames);
    sf_close(file);
    if (read != info.frames) {
        throw std::runtime_error("short read from " + path);
    }
    return sound;
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
