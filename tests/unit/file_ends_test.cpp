// A sound file as a render's source and sink: the frames the source reads
// into plain channels or interleaved frames from files of several formats,
// and the 16-bit frames the sink writes, for odd channel counts and reads
// that end inside a piece.
#include "io/clip_stage.h"
#include "io/file_sink.h"
#include "io/file_source.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <unistd.h>

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

using Channels = std::vector<std::vector<float>>;

// A path in the temporary folder, removed at the end of the test.
struct TemporaryPath {
    std::string path;
    explicit TemporaryPath(const std::string& name)
        : path(::testing::TempDir() + "tonbrix-" + std::to_string(getpid()) + "-" + name)
    {
    }
    ~TemporaryPath() { std::remove(path.c_str()); }
};

// Distinct samples, exact in 16 bits, from full scale down to -full scale.
Channels samples(uint32_t count, std::size_t frames)
{
    Channels out(count);
    for (uint32_t c = 0; c < count; ++c) {
        for (std::size_t f = 0; f < frames; ++f) {
            const auto step = static_cast<int>((f * 13 + c * 101) % 4001) - 2000;
            out[c].push_back(static_cast<float>(step) / 32768.0f);
        }
        out[c][0] = -1.0f;
        out[c][1] = 32767.0f / 32768.0f;
    }
    return out;
}

SNDFILE* open_file(const std::string& path, int mode, uint32_t count, int format)
{
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = static_cast<int>(count);
    info.format = format;
    return sf_open(path.c_str(), mode, &info);
}

// Writes the samples as they are: 16-bit formats get the integers that the
// samples scale to, so that reading them back gives the samples exactly.
void write_file(const std::string& path, const Channels& channels, int format)
{
    const auto count = static_cast<uint32_t>(channels.size());
    SNDFILE* file = open_file(path, SFM_WRITE, count, format);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<float> floats;
    std::vector<int16_t> shorts;
    for (std::size_t f = 0; f < channels[0].size(); ++f) {
        for (uint32_t c = 0; c < count; ++c) {
            floats.push_back(channels[c][f]);
            shorts.push_back(static_cast<int16_t>(channels[c][f] * 32768.0f));
        }
    }
    const auto n = static_cast<sf_count_t>(channels[0].size());
    if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16) {
        EXPECT_EQ(sf_writef_short(file, shorts.data(), n), n);
    } else {
        EXPECT_EQ(sf_writef_float(file, floats.data(), n), n);
    }
    sf_close(file);
}

} // namespace

TEST(FileSource, ReadsPlainChannelsAndInterleavedFramesAlike)
{
    // Float samples as the file holds them; 16-bit ones read as integers and
    // converted, in either byte order; FLAC left to the library. More frames
    // than two pieces, in reads that end inside a piece and past the file's
    // end.
    const struct {
        const char* name;
        int format;
    } formats[] = {
        {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"pcm16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"pcm16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
        {"pcm16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
    };
    const std::size_t frames = 2 * tonbrix::FileSource::piece_frames + 1234;
    for (const auto& format : formats) {
        for (const uint32_t count : {1u, 2u, 3u, 5u}) {
            TemporaryPath path(std::to_string(count) + "-" + format.name);
            const Channels in = samples(count, frames);
            write_file(path.path, in, format.format);
            for (const bool interleaved : {false, true}) {
                for (const std::size_t read_size : {frames, std::size_t{5000}, std::size_t{8193}}) {
                    SCOPED_TRACE(std::string(format.name) + ", " + std::to_string(count) +
                                 " channels, " + (interleaved ? "interleaved" : "plain") +
                                 ", reads of " + std::to_string(read_size));
                    SNDFILE* file = open_file(path.path, SFM_READ, 0, 0);
                    ASSERT_NE(file, nullptr);
                    tonbrix::FileSource source(file, count);
                    EXPECT_TRUE(source.writes_interleaved());
                    // Plain channels with room after each, as a ring slot has.
                    const std::size_t stride = interleaved ? 1 : read_size + 7;
                    const std::size_t step = interleaved ? count : 1;
                    std::vector<float> chunk(count * (read_size + 7));
                    Channels out(count);
                    for (;;) {
                        const tonbrix::SourceRead read = source.read(
                            tonbrix::ChunkOutput{chunk.data(), stride, step}, read_size);
                        EXPECT_FALSE(read.error);
                        for (uint32_t c = 0; c < count; ++c) {
                            for (std::size_t f = 0; f < read.frames; ++f) {
                                out[c].push_back(chunk[c * stride + f * step]);
                            }
                        }
                        if (read.frames < read_size) {
                            break;
                        }
                    }
                    EXPECT_EQ(out, in);
                    sf_close(file);
                }
            }
        }
    }
}

TEST(FileSink, WritesSixteenBitFramesOfEveryWidth)
{
    // Writes within a chunk, and one of more frames than a chunk.
    const std::size_t chunk = 1000;
    const std::size_t writes[] = {7, 1000, 2501};
    for (const uint32_t count : {1u, 2u, 3u, 5u}) {
        SCOPED_TRACE(std::to_string(count) + " channels");
        TemporaryPath wav("sink-" + std::to_string(count) + ".wav");
        std::size_t total = 0;
        for (const std::size_t frames : writes) {
            total += frames;
        }
        Channels in = samples(count, total);
        // Beyond full scale, ties and NaN: the conversion's own cases.
        in[count - 1][3] = 1.5f;
        in[0][5] = 100.5f / 32768.0f;
        in[0][6] = std::numeric_limits<float>::quiet_NaN();
        SNDFILE* file = open_file(wav.path, SFM_WRITE, count, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        ASSERT_NE(file, nullptr);
        tonbrix::FileSinkSettings settings;
        settings.file = file;
        settings.pcm16 = true;
        tonbrix::FileSink sink(settings);
        ASSERT_FALSE(sink.prepare(count, chunk, 1));
        std::size_t done = 0;
        for (const std::size_t frames : writes) {
            std::vector<const float*> channels;
            for (uint32_t c = 0; c < count; ++c) {
                channels.push_back(in[c].data() + done);
            }
            EXPECT_FALSE(sink.write(channels.data(), count, frames));
            done += frames;
        }
        EXPECT_FALSE(sink.finish());
        sf_close(file);

        file = open_file(wav.path, SFM_READ, 0, 0);
        ASSERT_NE(file, nullptr);
        std::vector<int16_t> written(total * count + 1);
        EXPECT_EQ(sf_readf_short(file, written.data(), static_cast<sf_count_t>(total + 1)),
                  static_cast<sf_count_t>(total));
        sf_close(file);
        written.pop_back();
        std::vector<int16_t> expected(total * count);
        std::vector<int16_t> converted(total);
        for (uint32_t c = 0; c < count; ++c) {
            tonbrix::float_to_pcm16(in[c].data(), total, converted.data());
            for (std::size_t f = 0; f < total; ++f) {
                expected[f * count + c] = converted[f];
            }
        }
        EXPECT_EQ(written, expected);
    }
}
