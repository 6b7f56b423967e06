// The engine's pieces that carry frames between lanes and into the
// plugin ports: the channel mix, the latency trim, the delay line, the ring.
#include "engine/channel_mix.h"
#include "engine/chunk_ring.h"
#include "engine/delay_line.h"
#include "engine/latency_trim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace {

using Channels = std::vector<std::vector<float>>;

enum class Layout { plain, interleaved };
const Layout layouts[] = {Layout::plain, Layout::interleaved};

// The same channels as a chunk holds them: plain, one after the other with
// a gap of 3 samples after each, or as interleaved frames.
struct Chunk {
    std::vector<float> samples;
    std::size_t stride = 0;
    std::size_t step = 1;

    Chunk(const Channels& channels, Layout layout)
    {
        const std::size_t frames = channels.empty() ? 0 : channels[0].size();
        const std::size_t count = channels.size();
        stride = layout == Layout::plain ? frames + 3 : 1;
        step = layout == Layout::plain ? 1 : count;
        samples.assign(count * (frames + 3), 99.0f);
        for (std::size_t c = 0; c < count; ++c) {
            for (std::size_t f = 0; f < frames; ++f) {
                samples[c * stride + f * step] = channels[c][f];
            }
        }
    }
    tonbrix::ChunkInput view(std::size_t frames) const
    {
        return tonbrix::ChunkInput{samples.data(), stride, frames, step};
    }
};

const char* name(Layout layout)
{
    return layout == Layout::plain ? "plain" : "interleaved";
}

} // namespace

TEST(MixChannels, EachInputGetsTheMeanOfItsChannels)
{
    // Three channels; input 0 takes channels 0 and 1, input 1 all three,
    // input 2 none and input 3 channel 2 alone.
    const uint32_t K = 3, I = 4, B = 4;
    const std::vector<uint8_t> matrix = {1, 1, 0, //
                                         1, 1, 1, //
                                         0, 0, 0, //
                                         0, 0, 1};
    const Channels channels{{0.5f, 1.0f}, {-0.25f, 2.0f}, {3.0f, 3.0f}};
    for (const Layout layout : layouts) {
        SCOPED_TRACE(name(layout));
        const Chunk in(channels, layout);
        std::vector<float> ports(I * B, 9.0f);
        tonbrix::mix_channels(in.view(2), K, 0, 2, I, matrix.data(), B, ports.data());

        EXPECT_FLOAT_EQ(ports[0 * B + 0], 0.125f);
        EXPECT_FLOAT_EQ(ports[0 * B + 1], 1.5f);
        EXPECT_FLOAT_EQ(ports[1 * B + 0], (0.5f - 0.25f + 3.0f) / 3.0f);
        EXPECT_FLOAT_EQ(ports[1 * B + 1], 2.0f);
        EXPECT_EQ(ports[2 * B + 0], 0.0f);
        EXPECT_EQ(ports[2 * B + 1], 0.0f);
        EXPECT_EQ(ports[3 * B + 0], 3.0f);
        EXPECT_EQ(ports[3 * B + 1], 3.0f);
        // Frames past the block read keep what they had.
        for (uint32_t port = 0; port < I; ++port) {
            EXPECT_EQ(ports[port * B + 2], 9.0f);
            EXPECT_EQ(ports[port * B + 3], 9.0f);
        }
    }
}

TEST(MixChannels, ReadsFromTheOffsetAndTurnsMinusZeroIntoZero)
{
    // The last of one, two or three channels alone: each width copies on a
    // path of its own.
    for (const uint32_t count : {1u, 2u, 3u}) {
        for (const Layout layout : layouts) {
            SCOPED_TRACE(std::to_string(count) + " channels, " + name(layout));
            Channels channels(count, {-7.0f, -7.0f, -7.0f});
            channels.back() = {5.0f, -0.0f, 0.75f};
            std::vector<uint8_t> matrix(count, 0);
            matrix.back() = 1;
            const Chunk in(channels, layout);
            std::vector<float> ports(2, 9.0f);
            tonbrix::mix_channels(in.view(3), count, 1, 2, 1, matrix.data(), 2, ports.data());
            EXPECT_EQ(ports[1], 0.75f);
            EXPECT_EQ(ports[0], 0.0f);
            EXPECT_FALSE(std::signbit(ports[0]));
        }
    }
}

TEST(MixChannels, OnlyTheValueOneConnects)
{
    const std::vector<uint8_t> matrix = {1, 2};
    for (const Layout layout : layouts) {
        const Chunk in({{0.25f}, {8.0f}}, layout);
        std::vector<float> ports(1, 0.0f);
        tonbrix::mix_channels(in.view(1), 2, 0, 1, 1, matrix.data(), 1, ports.data());
        EXPECT_EQ(ports[0], 0.25f) << name(layout);
    }
}

TEST(MixChannels, NothingHappensWithoutFrames)
{
    const std::vector<uint8_t> matrix = {1};
    const Chunk in({{0.25f}}, Layout::plain);
    std::vector<float> ports(1, 7.0f);
    tonbrix::mix_channels(in.view(0), 1, 0, 0, 1, matrix.data(), 1, ports.data());
    EXPECT_EQ(ports[0], 7.0f);
}

TEST(MixChannels, InterleavedFramesGiveThePlainChannelsInputs)
{
    // Every routing row of up to three channels, and some of five, each
    // row an input; offsets and frame counts that are not whole vectors.
    for (const uint32_t count : {1u, 2u, 3u, 5u}) {
        std::vector<uint8_t> matrix;
        const uint32_t rows = count <= 3 ? 1u << count : 8u;
        for (uint32_t r = 0; r < rows; ++r) {
            const uint32_t bits = count <= 3 ? r : r * 37u % 32u;
            for (uint32_t c = 0; c < count; ++c) {
                matrix.push_back(static_cast<uint8_t>((bits >> c) & 1u));
            }
        }
        Channels channels(count);
        for (uint32_t c = 0; c < count; ++c) {
            for (int f = 0; f < 40; ++f) {
                channels[c].push_back(static_cast<float>((f * 7 + c * 3) % 11) * 0.1f - 0.5f);
            }
        }
        const Chunk plain(channels, Layout::plain);
        const Chunk interleaved(channels, Layout::interleaved);
        for (const std::size_t offset : {0u, 3u}) {
            for (const std::size_t frames : {1u, 7u, 16u, 37u}) {
                SCOPED_TRACE(std::to_string(count) + " channels, offset " +
                             std::to_string(offset) + ", " + std::to_string(frames) + " frames");
                const uint32_t B = 37;
                std::vector<float> from_plain(rows * B, 9.0f);
                std::vector<float> from_interleaved(rows * B, 9.0f);
                tonbrix::mix_channels(plain.view(40), count, offset, frames, rows, matrix.data(),
                                      B, from_plain.data());
                tonbrix::mix_channels(interleaved.view(40), count, offset, frames, rows,
                                      matrix.data(), B, from_interleaved.data());
                EXPECT_EQ(from_plain, from_interleaved);
                // The plain channels' inputs: channel `only` alone.
                for (uint32_t r = 0; r < rows; ++r) {
                    const uint8_t* row = matrix.data() + r * count;
                    if (std::count(row, row + count, 1) == 1) {
                        const auto only = static_cast<std::size_t>(
                            std::find(row, row + count, 1) - row);
                        EXPECT_EQ(from_interleaved[r * B], channels[only][offset]);
                        EXPECT_EQ(from_interleaved[r * B + frames - 1],
                                  channels[only][offset + frames - 1]);
                    }
                }
            }
        }
    }
}

TEST(LatencyTrim, SkipsEachChannelsLatencyThenGivesFramesEveryChannelHas)
{
    tonbrix::LatencyTrim trim;
    trim.reset({5, 1});
    // Two channels, stride 4: channel 0 holds 0..3, channel 1 holds 10..13.
    const float chunk[8] = {0, 1, 2, 3, 10, 11, 12, 13};
    trim.append(chunk, 4, 4); // channel 0 skips all four, channel 1 one
    EXPECT_EQ(trim.ready(), 0u);
    trim.append(chunk, 4, 3); // channel 0 skips one more and keeps two
    ASSERT_EQ(trim.ready(), 2u);
    EXPECT_EQ(trim.channel(0)[0], 1.0f);
    EXPECT_EQ(trim.channel(0)[1], 2.0f);
    EXPECT_EQ(trim.channel(1)[0], 11.0f);
    EXPECT_EQ(trim.channel(1)[3], 10.0f);
    trim.consume(2);
    EXPECT_EQ(trim.ready(), 0u);
    trim.append(chunk, 4, 4);
    ASSERT_EQ(trim.ready(), 4u);
    EXPECT_EQ((std::vector<float>(trim.channel(0), trim.channel(0) + 4)),
              (std::vector<float>{0, 1, 2, 3}));
    EXPECT_EQ((std::vector<float>(trim.channel(1), trim.channel(1) + 4)),
              (std::vector<float>{13, 10, 11, 12}));
}

TEST(DelayLine, DelaysAcrossCallsOfAnySize)
{
    for (const std::size_t delay : {0u, 1u, 3u, 10u}) {
        tonbrix::DelayLine line;
        line.set_delay(delay);
        std::vector<float> out;
        float next = 1.0f;
        for (const std::size_t frames : {2u, 0u, 7u, 1u, 13u}) {
            std::vector<float> chunk(frames);
            for (float& x : chunk) {
                x = next++;
            }
            line.apply(chunk.data(), frames);
            out.insert(out.end(), chunk.begin(), chunk.end());
        }
        for (std::size_t f = 0; f < out.size(); ++f) {
            EXPECT_EQ(out[f], f < delay ? 0.0f : static_cast<float>(f - delay + 1))
                << "delay " << delay << ", frame " << f;
        }
    }
}

TEST(ChunkRing, CarriesChunksInOrderFromSeveralWritersToSeveralReaders)
{
    // Two writers fill their halves of every chunk and two readers check
    // both halves: no chunk is read before both wrote it, nor overwritten
    // before both read it.
    constexpr uint64_t chunks = 200;
    tonbrix::ChunkRing ring;
    ASSERT_TRUE(ring.allocate(3, 2, 4, 2, 2));
    std::vector<std::thread> threads;
    std::vector<int> bad(2, 0);
    for (uint32_t w = 0; w < 2; ++w) {
        threads.emplace_back([&, w] {
            for (uint64_t k = 0; k < chunks; ++k) {
                tonbrix::RingSlot* slot = ring.begin_write(k);
                ASSERT_NE(slot, nullptr);
                std::fill(slot->samples + w * ring.stride(),
                          slot->samples + (w + 1) * ring.stride(), static_cast<float>(k));
                if (ring.end_write(k)) {
                    slot->info.frames = static_cast<std::size_t>(k);
                    ring.publish(k);
                }
            }
        });
    }
    for (int r = 0; r < 2; ++r) {
        threads.emplace_back([&, r] {
            for (uint64_t k = 0; k < chunks; ++k) {
                const tonbrix::RingSlot* slot = ring.begin_read(k);
                ASSERT_NE(slot, nullptr);
                for (std::size_t i = 0; i < 2 * ring.stride(); ++i) {
                    bad[r] += slot->samples[i] != static_cast<float>(k);
                }
                bad[r] += slot->info.frames != k;
                ring.end_read(k);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(bad, (std::vector<int>{0, 0}));
}

TEST(ChunkRing, ClosingWakesBothSides)
{
    tonbrix::ChunkRing ring;
    ASSERT_TRUE(ring.allocate(1, 1, 1, 1, 1));
    ASSERT_NE(ring.begin_write(0), nullptr);
    std::thread reader([&] { EXPECT_EQ(ring.begin_read(1), nullptr); });
    std::thread writer([&] { EXPECT_EQ(ring.begin_write(1), nullptr); });
    ring.close();
    reader.join();
    writer.join();
    EXPECT_FALSE(ring.wait_published(0));
}
