// A chain of real plugin nodes run in-process through the public interface:
// the project's delay and mixing test plugins, with their latencies lined up
// across the nodes, at every job count and block size.
#include <tonbrix/plugin.h>
#include <tonbrix/render.h>
#include <tonbrix/world.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tonbrix;

namespace {

const std::string base = "http://tonbrix.test/plugins/";
constexpr std::size_t frames = 20000;

using Channels = std::vector<std::vector<float>>;

// Plain channels as a source, read in whatever pieces the render asks for.
class VectorSource final : public Source {
public:
    explicit VectorSource(const Channels& channels) : channels_(channels) {}
    uint32_t channels() const override { return static_cast<uint32_t>(channels_.size()); }
    SourceRead read(const ChunkOutput& output, std::size_t wanted) override
    {
        const std::size_t count = std::min(wanted, channels_[0].size() - position_);
        for (uint32_t c = 0; c < channels(); ++c) {
            std::copy_n(channels_[c].begin() + static_cast<std::ptrdiff_t>(position_), count,
                        output.channel(c));
        }
        position_ += count;
        return {count, std::nullopt};
    }

private:
    const Channels& channels_;
    std::size_t position_ = 0;
};

class VectorSink final : public Sink {
public:
    Channels out;
    std::optional<Error> write(const float* const* channels, uint32_t count,
                               std::size_t written) override
    {
        out.resize(count);
        for (uint32_t c = 0; c < count; ++c) {
            out[c].insert(out[c].end(), channels[c], channels[c] + written);
        }
        return std::nullopt;
    }
};

Channels ramp_signal()
{
    Channels in(2, std::vector<float>(frames));
    for (std::size_t f = 0; f < frames; ++f) {
        in[0][f] = static_cast<float>(f % 1000) / 2000.0f;
        in[1][f] = -static_cast<float>(f % 777) / 1600.0f;
    }
    return in;
}

std::unique_ptr<Node> plugin_node(World& world, const std::string& name, uint32_t channels,
                                  uint32_t block_size,
                                  std::vector<std::pair<std::string, float>> controls)
{
    PluginSettings settings;
    settings.uri = base + name;
    settings.channels = channels;
    settings.sample_rate = 48000.0;
    settings.block_size = block_size;
    settings.controls = std::move(controls);
    Result<std::unique_ptr<Node>> node = make_plugin_node(world, settings);
    EXPECT_TRUE(node.ok()) << (node.ok() ? "" : node.error().message);
    return node.ok() ? std::move(node.value()) : nullptr;
}

} // namespace

TEST(PluginChain, ThreeNodesWithLatenciesGiveTheInputBackAtEveryJobCountAndBlockSize)
{
    setenv("LV2_PATH", TONBRIX_TEST_LV2_DIR, 1);
    Result<World> world = World::load();
    ASSERT_TRUE(world.ok());
    const Channels in = ramp_signal();
    struct Case {
        uint32_t block_size;
        unsigned jobs;
    };
    for (const Case c : {Case{64, 1}, Case{64, 2}, Case{64, 3}, Case{1000, 1}, Case{1000, 2},
                         Case{8192, 2}}) {
        for (const bool compensate : {false, true}) {
            // Instance k of the delay plugin (counted across the process)
            // delays by delay + k × stagger frames, so that the two channels
            // out of the first node have different latencies; the mixed
            // plugin sums them (in × gain + side) only when they line up.
            Graph graph;
            graph.add(plugin_node(world.value(), "delay", 2, c.block_size,
                                  {{"delay", 100.0f}, {"stagger", 7.0f}}));
            graph.add(plugin_node(world.value(), "mixed", 2, c.block_size, {}));
            graph.add(plugin_node(world.value(), "delay", 1, c.block_size, {{"delay", 300.0f}}));
            ASSERT_EQ(graph.size(), 3u);
            VectorSource source(in);
            VectorSink sink;
            RenderOptions options;
            options.block_size = c.block_size;
            options.jobs = c.jobs;
            options.compensate_latency = compensate;
            const RenderResult result = render(source, graph, sink, options);
            ASSERT_EQ(result.status, RenderStatus::finished)
                << (result.error ? result.error->message : "");
            const auto latency = [&](std::size_t node, std::size_t part) {
                return static_cast<std::size_t>(graph.node(node).latency(part));
            };
            const std::size_t left = latency(0, 0) + latency(2, 0);
            const std::size_t right = latency(0, 1) + latency(2, 0);
            ASSERT_EQ(right, left + 7);
            ASSERT_EQ(sink.out.size(), 1u);
            ASSERT_EQ(sink.out[0].size(), frames) << c.block_size << " " << c.jobs;
            const auto at = [&](std::size_t ch, std::size_t f, std::size_t delay) {
                return compensate ? in[ch][f] : f < delay ? 0.0f : in[ch][f - delay];
            };
            for (std::size_t f = 0; f < frames; ++f) {
                const float expected = at(0, f, left) * 1.0f + at(1, f, right) + 0.0f;
                ASSERT_EQ(sink.out[0][f], expected)
                    << "block " << c.block_size << " jobs " << c.jobs << " compensate "
                    << compensate << " frame " << f;
            }
        }
    }
}

TEST(PluginChain, ANodeTakesItsPresetControlsAndRouting)
{
    setenv("LV2_PATH", TONBRIX_TEST_LV2_DIR, 1);
    Result<World> world = World::load();
    ASSERT_TRUE(world.ok());
    const Channels in = ramp_signal();
    PluginSettings settings;
    settings.uri = base + "presets";
    settings.channels = 2;
    settings.mono = true; // one instance, both channels mixed into its input
    settings.block_size = 64;
    settings.preset = "Alpha"; // a 0.5, b 8000, c -0.25
    settings.controls = {{"c", 2.0f}};
    Result<std::unique_ptr<Node>> node = make_plugin_node(world.value(), settings);
    ASSERT_TRUE(node.ok()) << node.error().message;
    Graph graph;
    graph.add(std::move(node.value()));
    VectorSource source(in);
    VectorSink sink;
    RenderOptions options;
    options.block_size = 64;
    options.check_clipping = false; // b is far beyond full scale
    ASSERT_EQ(render(source, graph, sink, options).status, RenderStatus::finished);
    ASSERT_EQ(sink.out.size(), 1u);
    // Each block starts with the values of the controls a to e.
    const std::vector<float> head(sink.out[0].begin(), sink.out[0].begin() + 5);
    EXPECT_EQ(head, (std::vector<float>{0.5f, 8000.0f, 2.0f, 0.0f, 0.0f}));
    EXPECT_EQ(sink.out[0][10], (in[0][10] + in[1][10]) / 2.0f);

    settings.preset = "Nope";
    Result<std::unique_ptr<Node>> missing = make_plugin_node(world.value(), settings);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message, "Preset 'Nope' was not found.\n");
    settings.preset.clear();
    settings.mono = false;
    settings.connections = {{3, 1, "in"}};
    Result<std::unique_ptr<Node>> wrong = make_plugin_node(world.value(), settings);
    EXPECT_FALSE(wrong.ok());
}

namespace {

// Passes its one channel on and gives a note at every frame of its stream
// that is a multiple of 997 or of 1000, its second byte the frame's count
// of tens modulo 100, so that the marks the probe writes are distinct.
class NoteGiver final : public Node {
public:
    uint32_t input_channels() const override { return 1; }
    uint32_t output_channels() const override { return 1; }
    static bool gives(uint64_t f) { return f % 997 == 0 || f % 1000 == 0; }
    static uint8_t key(uint64_t f) { return static_cast<uint8_t>(f / 10 % 100); }
    std::optional<Error> run(std::size_t, const ChunkInput& input,
                             const ChunkOutput& output) override
    {
        for (std::size_t f = 0; f < input.frames; ++f) {
            output.channel(0)[f] = input.data == nullptr ? 0.0f : input.sample(0, f);
            if (output.events != nullptr && gives(seen_ + f)) {
                output.events->push_back({seen_ + f, {0x90, key(seen_ + f), 1}});
            }
        }
        seen_ += input.frames;
        return std::nullopt;
    }

private:
    uint64_t seen_ = 0;
};

} // namespace

TEST(PluginChain, MidiGoesFromNodeToNodeAtItsFramesAtEveryJobCountAndBlockSize)
{
    setenv("LV2_PATH", TONBRIX_TEST_LV2_DIR, 1);
    Result<World> world = World::load();
    ASSERT_TRUE(world.ok());
    const Channels in(1, std::vector<float>(frames, 0.0f));
    std::vector<float> expected(frames, 0.0f);
    for (std::size_t f = 0; f < frames; ++f) {
        if (NoteGiver::gives(f)) {
            // What eventprobe marks for a channel message: (byte 1 + 1) / 256.
            expected[f] = (NoteGiver::key(f) + 1) / 256.0f;
        }
    }
    struct Case {
        uint32_t block_size;
        unsigned jobs;
    };
    for (const Case c : {Case{64, 1}, Case{64, 2}, Case{1000, 1}, Case{1000, 3}, Case{8192, 2}}) {
        // The notes go through eventecho (MIDI only) into eventprobe, whose
        // first output marks each note at its frame.
        Graph graph;
        graph.add(std::make_unique<NoteGiver>());
        graph.add(plugin_node(world.value(), "eventecho", 1, c.block_size, {}));
        graph.add(plugin_node(world.value(), "eventprobe", 0, c.block_size, {}));
        ASSERT_EQ(graph.size(), 3u);
        VectorSource source(in);
        VectorSink sink;
        RenderOptions options;
        options.block_size = c.block_size;
        options.jobs = c.jobs;
        const RenderResult result = render(source, graph, sink, options);
        ASSERT_EQ(result.status, RenderStatus::finished)
            << (result.error ? result.error->message : "");
        ASSERT_EQ(sink.out.size(), 4u);
        EXPECT_EQ(sink.out[0], expected) << "block " << c.block_size << " jobs " << c.jobs;
    }
}
