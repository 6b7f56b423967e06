// FLAC written in segments on several threads must be the very stream
// libsndfile writes in one piece.
#include "io/flac/flac_frames.h"
#include "io/flac/flac_writer.h"
#include "io/flac/md5.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

using namespace tonbrix;

namespace {

std::string hex(std::span<const uint8_t> bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::span<const uint8_t> bytes_of(std::string_view text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(Md5, KnownDigestsWholeAndInPieces)
{
    const struct {
        std::string text;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto& c : cases) {
        Md5 whole;
        whole.add(bytes_of(c.text).data(), c.text.size());
        EXPECT_EQ(hex(whole.finish()), c.digest) << c.text.size() << " bytes";
        // Pieces of every size straddle the 64-byte blocks differently.
        for (std::size_t piece : {1u, 7u, 63u, 64u, 65u}) {
            Md5 pieces;
            for (std::size_t at = 0; at < c.text.size(); at += piece) {
                const std::size_t n = std::min(piece, c.text.size() - at);
                pieces.add(bytes_of(c.text).data() + at, n);
            }
            EXPECT_EQ(hex(pieces.finish()), c.digest) << c.text.size() << " bytes by " << piece;
        }
    }
}

TEST(FlacFrames, ChecksumsAndCodedNumbers)
{
    // The standard check values of CRC-8 (poly 0x07) and CRC-16 (poly 0x8005).
    EXPECT_EQ(flac_crc8(bytes_of("123456789")), 0xf4);
    EXPECT_EQ(flac_crc16(bytes_of("123456789")), 0xfee8);
    // Eight bytes at a time must agree with a bit at a time, at every length.
    std::vector<uint8_t> data(300);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    for (std::size_t size = 0; size <= data.size(); size += 13) {
        uint16_t crc = 0;
        for (std::size_t i = 0; i < size; ++i) {
            crc ^= static_cast<uint16_t>(data[i] << 8);
            for (int bit = 0; bit < 8; ++bit) {
                crc = static_cast<uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x8005 : crc << 1);
            }
        }
        EXPECT_EQ(flac_crc16(std::span(data).first(size)), crc) << size << " bytes";
    }
    const struct {
        uint64_t number;
        const char* coded;
    } cases[] = {
        {0, "00"},
        {0x7f, "7f"},
        {0x80, "c280"},
        {0x7ff, "dfbf"},
        {0x800, "e0a080"},
        {0xffff, "efbfbf"},
        {0x10000, "f0908080"},
        {0x1fffff, "f7bfbfbf"},
        {0x200000, "f888808080"},
        {0x3ffffff, "fbbfbfbfbf"},
        {0x4000000, "fc8480808080"},
        {0x7fffffff, "fdbfbfbfbfbf"},
        {0x80000000, "fe828080808080"},
        {0xfffffffff, "febfbfbfbfbfbf"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> out;
        append_coded_number(out, c.number);
        EXPECT_EQ(hex(out), c.coded) << c.number;
    }
}

TEST(FlacFrames, MalformedInputIsRefused)
{
    std::vector<uint8_t> out;
    const std::vector<uint8_t> not_a_frame{0xff, 0xf9, 0x69, 0x08, 0x00, 0x00, 0x00, 0x00};
    EXPECT_FALSE(append_renumbered_frame(not_a_frame, 1, out)); // variable block size
    const std::vector<uint8_t> bad_number{0xff, 0xf8, 0x69, 0x08, 0x80, 0x00, 0x00, 0x00};
    EXPECT_FALSE(append_renumbered_frame(bad_number, 1, out));
    const std::vector<uint8_t> short_frame{0xff, 0xf8, 0x69, 0x08, 0x00};
    EXPECT_FALSE(append_renumbered_frame(short_frame, 1, out));
    EXPECT_TRUE(out.empty());
    std::size_t frames = 0;
    std::size_t info = 0;
    EXPECT_FALSE(find_flac_frames(bytes_of("fLaC\x80\x00\x00\x22"), frames, info));
    EXPECT_FALSE(find_flac_frames(bytes_of("RIFF0000WAVE"), frames, info));
}

class FlacWriterTest : public ::testing::Test {
protected:
    std::filesystem::path dir;

    void SetUp() override
    {
        char name[] = "/tmp/flac-writer-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    static std::vector<uint8_t> read_file(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // libsndfile's own stream for these samples.
    std::vector<uint8_t> reference(const SF_INFO& info, const std::vector<int16_t>& samples)
    {
        const auto path = dir / "reference.flac";
        SF_INFO settings = info;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &settings);
        EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
        const auto frames = static_cast<sf_count_t>(samples.size() / info.channels);
        if (frames > 0) {
            EXPECT_EQ(sf_writef_short(file, samples.data(), frames), frames);
        }
        // As the output of the run: a stream without frames is begun
        // explicitly (libsndfile leaves it empty otherwise).
        EXPECT_EQ(sf_command(file, SFC_UPDATE_HEADER_NOW, nullptr, 0), 0);
        EXPECT_EQ(sf_close(file), 0);
        return read_file(path);
    }

    // The segmented stream, handed over in pieces of `piece` frames.
    std::vector<uint8_t> segmented(const SF_INFO& info, const std::vector<int16_t>& samples,
                                   std::size_t threads, std::size_t piece)
    {
        const auto path = dir / "segmented.flac";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_GE(fd, 0);
        {
            FlacWriter writer;
            EXPECT_TRUE(start_flac_writer(writer, fd, info, threads));
            const auto channels = static_cast<std::size_t>(info.channels);
            const std::size_t frames = samples.size() / channels;
            for (std::size_t at = 0; at < frames; at += piece) {
                EXPECT_TRUE(flac_write(writer, samples.data() + at * channels,
                                       std::min(piece, frames - at)));
            }
            EXPECT_TRUE(finish_flac_writer(writer));
        }
        ::close(fd);
        return read_file(path);
    }
};

// Noise and a sine, with silent stretches, full-scale peaks and stretches
// where the channels nearly agree (mid-side stereo), so that frames differ
// in size, subframe kind and stereo coding.
std::vector<int16_t> test_signal(std::size_t frames, int channels, unsigned seed)
{
    std::vector<int16_t> samples(frames * static_cast<std::size_t>(channels));
    uint32_t state = seed;
    for (std::size_t i = 0; i < frames; ++i) {
        const bool silent = (i / 5000) % 7 == 3;
        for (int c = 0; c < channels; ++c) {
            state = state * 1664525u + 1013904223u;
            const double noise = static_cast<double>(static_cast<int32_t>(state) >> 20);
            const double tone = 12000.0 * std::sin(static_cast<double>(i) * 0.01 * (c + 1));
            double value = silent ? 0.0 : tone + noise * (c + 1);
            if (c > 0 && (i / 20000) % 3 == 1) {
                value = 0.8 * samples[i * static_cast<std::size_t>(channels)] + noise * 0.01;
            }
            if (i % 9973 == 0) {
                value = c % 2 == 0 ? 32767.0 : -32768.0;
            }
            samples[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<int16_t>(std::clamp(value, -32768.0, 32767.0));
        }
    }
    return samples;
}

TEST_F(FlacWriterTest, SameBytesAsOnePiece)
{
    const struct {
        int channels;
        int rate;
        std::size_t frames;
        std::size_t threads;
        std::size_t piece; // frames handed over at a time
    } cases[] = {
        {2, 48000, 0, 2, 4096},
        {2, 48000, 1, 2, 4096},
        {1, 44100, 4095, 1, 4096},
        {2, 48000, 4096, 2, 1000},
        {2, 48000, 4097, 3, 32768},
        {2, 48000, flac_segment_frames, 2, 32768},
        {2, 48000, flac_segment_frames + 1, 2, 32768},
        {6, 96000, 3 * flac_segment_frames + 12345, 2, 7000},
        {1, 8000, 600000, 4, 65536},   // frame numbers of two bytes
    };
    for (const auto& c : cases) {
        SF_INFO info{};
        info.samplerate = c.rate;
        info.channels = c.channels;
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        const auto samples = test_signal(c.frames, c.channels, static_cast<unsigned>(c.frames));
        const auto expected = reference(info, samples);
        const auto actual = segmented(info, samples, c.threads, c.piece);
        EXPECT_EQ(actual.size(), expected.size()) << c.frames << " frames";
        EXPECT_GE(actual.size(), 42u) << c.frames << " frames: no fLaC and STREAMINFO";
        EXPECT_TRUE(actual == expected) << c.frames << " frames, " << c.channels << " channels";
    }
}

TEST_F(FlacWriterTest, FrameNumbersOfThreeBytes)
{
    // More than 2048 FLAC frames of 4096 samples.
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    const auto samples = test_signal(2100 * 4096 + 77, 1, 7);
    const auto expected = reference(info, samples);
    EXPECT_TRUE(segmented(info, samples, 2, 100000) == expected);
}

TEST_F(FlacWriterTest, FailedWriteIsReported)
{
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    const int fd = ::open((dir / "read-only").c_str(), O_RDONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    const auto samples = test_signal(3 * flac_segment_frames, 2, 1);
    FlacWriter writer;
    ASSERT_TRUE(start_flac_writer(writer, fd, info, 2));
    bool ok = flac_write(writer, samples.data(), 3 * flac_segment_frames);
    ok = ok && finish_flac_writer(writer);
    EXPECT_FALSE(ok);
    EXPECT_EQ(writer.error, EBADF);
    ::close(fd);
}

} // namespace
