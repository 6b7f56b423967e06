#pragma once

#include <sndfile.h>

#include <string>
#include <utility>
#include <vector>

// A whole sound file in memory: interleaved samples.
struct Sound {
    int channels = 0;
    int rate = 0;
    int format = 0;
    std::vector<float> samples;

    long frames() const { return channels == 0 ? 0 : static_cast<long>(samples.size()) / channels; }
    float at(long frame, int channel) const { return samples[frame * channels + channel]; }
};

inline constexpr int wav_float = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
inline constexpr int wav_pcm16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

// libsndfile's strings of a file (SF_STR_TITLE, ...) and their text.
using SoundStrings = std::vector<std::pair<int, std::string>>;

// Writes a sound file (a FLAC file without frames, too) with `strings`;
// throws on failure.
void write_sound(const std::string& path, const Sound& sound, const SoundStrings& strings = {});
// Reads a whole sound file; throws on failure.
Sound read_sound(const std::string& path);
// The strings libsndfile reads from a file, in the order of their kinds;
// throws when it cannot be opened.
SoundStrings read_sound_strings(const std::string& path);

// Builds a sound whose channel c, frame f holds fn(f, c).
template <class Fn>
Sound make_sound(int channels, long frames, int rate, int format, Fn fn)
{
    Sound s{channels, rate, format, {}};
    s.samples.reserve(static_cast<std::size_t>(channels * frames));
    for (long f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            s.samples.push_back(fn(f, c));
        }
    }
    return s;
}

// Writes `values` as a mono 16-bit WAV file; a failure fails the test.
void write_pcm16_mono(const std::string& path, const std::vector<short>& values, int rate);

// Headerless native floats, as raw float mode reads and writes them.
std::string to_raw_bytes(const std::vector<float>& samples);
std::vector<float> from_raw_bytes(const std::string& bytes);
