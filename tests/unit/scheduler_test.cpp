// The scheduler against fake sources, nodes and sinks: what reaches the sink,
// in what order, at every job count and block size.
#include <tonbrix/render.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <deque>
#include <limits>
#include <mutex>
#include <numeric>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using tonbrix::ChunkInput;
using tonbrix::ChunkOutput;
using tonbrix::Error;
using tonbrix::Graph;
using tonbrix::RenderCallbacks;
using tonbrix::RenderOptions;
using tonbrix::RenderResult;
using tonbrix::RenderStatus;
using tonbrix::SourceRead;

using Channels = std::vector<std::vector<float>>;

// Distinct samples within +-0.45, so that sums of two stay below full scale.
Channels signal(uint32_t channels, std::size_t frames)
{
    Channels out(channels, std::vector<float>(frames));
    uint32_t state = 12345;
    for (std::size_t f = 0; f < frames; ++f) {
        for (uint32_t c = 0; c < channels; ++c) {
            state = state * 1664525u + 1013904223u;
            out[c][f] = static_cast<float>(state >> 8) / 16777216.0f * 0.9f - 0.45f;
        }
    }
    return out;
}

// Gives its channels in reads of the size asked for, as interleaved frames
// when asked and `interleaves`; a read that reaches `fail_at` gives the
// frames before it and fails.
class FakeSource : public tonbrix::Source {
public:
    explicit FakeSource(Channels channels, std::size_t fail_at = SIZE_MAX)
        : channels_(std::move(channels)), fail_at_(fail_at)
    {
    }
    uint32_t channels() const override { return static_cast<uint32_t>(channels_.size()); }
    SourceRead read(const ChunkOutput& output, std::size_t frames) override
    {
        ++reads;
        EXPECT_FALSE(failed) << "read again after a failed read";
        EXPECT_FALSE(ended) << "read again after the end";
        const std::size_t length = channels_.empty() ? 0 : channels_[0].size();
        const std::size_t end = std::min({position_ + frames, length, fail_at_});
        if (!interleaves) {
            EXPECT_EQ(output.step, 1u) << "interleaved frames asked of a source without them";
        }
        for (uint32_t c = 0; c < channels(); ++c) {
            for (std::size_t f = position_; f < end; ++f) {
                output.channel(c)[(f - position_) * output.step] = channels_[c][f];
            }
        }
        SourceRead read{end - position_, std::nullopt};
        ended = read.frames == 0;
        position_ = end;
        if (position_ == fail_at_) {
            failed = true;
            read.error = Error{"Error reading input file: broken\n"};
        }
        return read;
    }
    bool writes_interleaved() const override { return interleaves; }
    bool interleaves = false;
    std::size_t reads = 0;
    bool failed = false;
    bool ended = false;

private:
    Channels channels_;
    std::size_t fail_at_;
    std::size_t position_ = 0;
};

// Keeps what it is given; write number `fail_write` (from 0) fails.
class FakeSink : public tonbrix::Sink {
public:
    std::optional<Error> prepare(uint32_t channels, std::size_t, unsigned) override
    {
        out.assign(channels, {});
        return std::nullopt;
    }
    std::optional<Error> write(const float* const* channels, uint32_t count,
                               std::size_t frames) override
    {
        if (writes++ == fail_write) {
            return Error{"Error writing output file: disk full\n"};
        }
        for (uint32_t c = 0; c < count; ++c) {
            out[c].insert(out[c].end(), channels[c], channels[c] + frames);
        }
        return std::nullopt;
    }
    std::optional<Error> finish() override
    {
        ++finishes;
        return std::nullopt;
    }
    Channels out;
    std::size_t writes = 0;
    std::size_t fail_write = SIZE_MAX;
    int finishes = 0;
};

// Delays the channels of part p by latency[p] frames (and reports that, or
// `reported` when set) and multiplies them by `gain`; fails at the chunk
// that holds frame `fail_at`; reads interleaved frames when `interleaved`.
// It remembers each part's threads, the frames of each chunk it was given
// and the steps between their frames.
class DelayNode : public tonbrix::Node {
public:
    DelayNode(uint32_t channels, std::vector<std::size_t> latency, float gain = 1.0f)
        : threads_(latency.size()), chunks_(latency.size()), steps_(latency.size()),
          channels_(channels),
          latency_(std::move(latency)), gain_(gain), history_(channels),
          seen_(latency_.size(), 0)
    {
        for (uint32_t c = 0; c < channels; ++c) {
            history_[c].assign(latency_[c / (channels / latency_.size())], 0.0f);
        }
    }
    uint32_t input_channels() const override { return channels_; }
    uint32_t output_channels() const override { return channels_; }
    std::size_t parts() const override { return latency_.size(); }
    bool reads_interleaved() const override { return interleaved; }
    bool reports_latency() const override { return true; }
    double latency(std::size_t part) const override
    {
        return reported ? *reported : static_cast<double>(latency_[part]);
    }
    std::optional<Error> run(std::size_t part, const ChunkInput& input,
                             const ChunkOutput& output) override
    {
        const std::size_t first = seen_[part];
        seen_[part] += input.frames;
        threads_[part].push_back(std::this_thread::get_id());
        chunks_[part].push_back(input.frames);
        steps_[part].push_back(input.step);
        if (first <= fail_at && fail_at < seen_[part]) {
            return Error{"Error: the node failed.\n"};
        }
        const uint32_t width = channels_ / static_cast<uint32_t>(latency_.size());
        for (uint32_t c = static_cast<uint32_t>(part) * width; c < (part + 1) * width; ++c) {
            std::deque<float>& held = history_[c];
            for (std::size_t f = 0; f < input.frames; ++f) {
                held.push_back(input.data == nullptr ? 0.0f : input.sample(c, f));
                output.channel(c)[f] = held.front() * gain_;
                held.pop_front();
            }
        }
        return std::nullopt;
    }
    std::optional<double> reported;
    std::size_t fail_at = SIZE_MAX;
    bool interleaved = false;
    std::vector<std::vector<std::thread::id>> threads_; // by part
    std::vector<std::vector<std::size_t>> chunks_;      // by part: frames of each chunk
    std::vector<std::vector<std::size_t>> steps_;       // by part: the step of each chunk

private:
    uint32_t channels_;
    std::vector<std::size_t> latency_;
    float gain_;
    std::vector<std::deque<float>> history_;
    std::vector<std::size_t> seen_;
};

// Sums two halves of the channels: output c is input c plus input c + outputs.
class PairSumNode : public tonbrix::Node {
public:
    explicit PairSumNode(uint32_t outputs) : outputs_(outputs) {}
    uint32_t input_channels() const override { return 2 * outputs_; }
    uint32_t output_channels() const override { return outputs_; }
    std::optional<Error> run(std::size_t, const ChunkInput& input,
                             const ChunkOutput& output) override
    {
        for (uint32_t c = 0; c < outputs_; ++c) {
            for (std::size_t f = 0; f < input.frames; ++f) {
                output.channel(c)[f] = input.data == nullptr
                                           ? 0.0f
                                           : input.channel(c)[f] + input.channel(c + outputs_)[f];
            }
        }
        return std::nullopt;
    }

private:
    uint32_t outputs_;
};

// Keeps the warnings' texts.
class Warnings : public tonbrix::EventSink {
public:
    void report(tonbrix::EventKind kind, std::string_view text) noexcept override
    {
        EXPECT_EQ(kind, tonbrix::EventKind::warning);
        texts.emplace_back(text);
    }
    std::vector<std::string> texts;
};

const std::string clipping = "WARNING: Clipping output.";
const std::string not_a_number = "WARNING: The plugin produced invalid samples (NaN)";
const std::string invalid_latency = "WARNING: The plugin reported an invalid latency";

// The warnings by the start of their text: the first line, or up to a comma or "(".
std::vector<std::string> starts(const std::vector<std::string>& texts)
{
    std::vector<std::string> out;
    for (const std::string& text : texts) {
        for (const std::string& start : {clipping, not_a_number, invalid_latency}) {
            if (text.rfind(start, 0) == 0) {
                out.push_back(start);
            }
        }
    }
    return out;
}

struct Outcome {
    RenderResult result;
    std::vector<std::string> warnings;
    std::vector<uint64_t> progress;
};

Outcome render(FakeSource& source, Graph& graph, FakeSink& sink, const RenderOptions& options,
           std::function<bool()> stop = {})
{
    Outcome run;
    Warnings warnings;
    RenderCallbacks callbacks;
    callbacks.events = &warnings;
    callbacks.progress = [&](uint64_t frames) { run.progress.push_back(frames); };
    callbacks.stop = std::move(stop);
    run.result = tonbrix::render(source, graph, sink, options, callbacks);
    run.warnings = warnings.texts;
    return run;
}

RenderOptions options(uint32_t block_size, unsigned jobs)
{
    RenderOptions o;
    o.block_size = block_size;
    o.jobs = jobs;
    return o;
}

// Channel c delayed by delay[c] frames, cut or padded with silence to `frames`.
Channels delayed(const Channels& in, const std::vector<std::size_t>& delay, std::size_t frames)
{
    Channels out(in.size(), std::vector<float>(frames, 0.0f));
    for (std::size_t c = 0; c < in.size(); ++c) {
        for (std::size_t f = delay[c]; f < frames && f - delay[c] < in[c].size(); ++f) {
            out[c][f] = in[c][f - delay[c]];
        }
    }
    return out;
}

struct Shape {
    uint32_t block_size;
    unsigned jobs;
};

// Every block size the tests run: one frame, an odd size, a common one,
// one chunk on one thread, and more than a threaded chunk.
const std::vector<uint32_t> block_sizes{1, 5, 512, 8192, 40000};

std::vector<Shape> shapes()
{
    std::vector<Shape> all;
    for (const uint32_t block_size : block_sizes) {
        for (const unsigned jobs : {1u, 2u, 3u}) {
            all.push_back({block_size, jobs});
        }
    }
    return all;
}

std::string describe(const Shape& shape)
{
    return "block size " + std::to_string(shape.block_size) + ", " +
           std::to_string(shape.jobs) + " jobs";
}

// Frames that span several chunks at every size and end in a partial block.
constexpr std::size_t long_input = 3 * 32768 + 4099;

TEST(Scheduler, GivesTheInputThroughANodeInOrderAtEveryJobCountAndBlockSize)
{
    const Channels in = signal(4, long_input);
    for (const Shape& shape : shapes()) {
        SCOPED_TRACE(describe(shape));
        FakeSource source(in);
        FakeSink sink;
        Graph graph;
        auto& node = static_cast<DelayNode&>(
            graph.add(std::make_unique<DelayNode>(4, std::vector<std::size_t>{0, 0}, 1.0f)));
        const Outcome run = render(source, graph, sink, options(shape.block_size, shape.jobs));
        EXPECT_EQ(run.result.status, RenderStatus::finished);
        EXPECT_EQ(run.result.frames_written, long_input);
        EXPECT_EQ(sink.out, in);
        EXPECT_EQ(sink.finishes, 1);
        ASSERT_FALSE(run.progress.empty());
        EXPECT_TRUE(std::is_sorted(run.progress.begin(), run.progress.end()));
        EXPECT_EQ(run.progress.back(), long_input);
        for (std::size_t part = 0; part < node.parts(); ++part) {
            // A part always runs on one thread, and every chunk before the
            // last is whole blocks.
            const auto& threads = node.threads_[part];
            EXPECT_TRUE(std::all_of(threads.begin(), threads.end(),
                                    [&](std::thread::id id) { return id == threads[0]; }));
            const auto& chunks = node.chunks_[part];
            for (std::size_t i = 0; i + 1 < chunks.size(); ++i) {
                EXPECT_EQ(chunks[i] % shape.block_size, 0u) << "chunk " << i;
            }
        }
    }
}

// Passes its channels on; part p gives an event {p, f % 128} at every
// frame f of its stream that is a multiple of 1000, and part 1 also at
// every f with f % 777 == 3, so that parts give events at one frame and
// at frames of their own.
class EventGiverNode : public tonbrix::Node {
public:
    explicit EventGiverNode(uint32_t channels) : channels_(channels), seen_(channels, 0) {}
    uint32_t input_channels() const override { return channels_; }
    uint32_t output_channels() const override { return channels_; }
    std::size_t parts() const override { return channels_; }
    static bool gives(std::size_t part, uint64_t f)
    {
        return f % 1000 == 0 || (part == 1 && f % 777 == 3);
    }
    std::optional<Error> run(std::size_t part, const ChunkInput& input,
                             const ChunkOutput& output) override
    {
        for (std::size_t f = 0; f < input.frames; ++f) {
            output.channel(static_cast<uint32_t>(part))[f] =
                input.data == nullptr ? 0.0f : input.sample(static_cast<uint32_t>(part), f);
            const uint64_t frame = seen_[part] + f;
            if (output.events != nullptr && gives(part, frame)) {
                output.events->push_back({frame, {static_cast<uint8_t>(part),
                                                  static_cast<uint8_t>(frame % 128)}});
            }
        }
        seen_[part] += input.frames;
        return std::nullopt;
    }

private:
    uint32_t channels_;
    std::vector<uint64_t> seen_; // by part
};

// Passes its channels on and keeps the events it is given; each must lie
// within the chunk it comes with.
class EventTakerNode : public tonbrix::Node {
public:
    explicit EventTakerNode(uint32_t channels) : channels_(channels) {}
    uint32_t input_channels() const override { return channels_; }
    uint32_t output_channels() const override { return channels_; }
    std::optional<Error> run(std::size_t, const ChunkInput& input,
                             const ChunkOutput& output) override
    {
        for (uint32_t c = 0; c < channels_; ++c) {
            for (std::size_t f = 0; f < input.frames; ++f) {
                output.channel(c)[f] = input.data == nullptr ? 0.0f : input.sample(c, f);
            }
        }
        for (const tonbrix::StreamEvent& event : input.events) {
            EXPECT_GE(event.frame, seen_);
            EXPECT_LT(event.frame, seen_ + input.frames);
            taken.push_back(event);
        }
        seen_ += input.frames;
        return std::nullopt;
    }
    std::vector<tonbrix::StreamEvent> taken;

private:
    uint32_t channels_;
    uint64_t seen_ = 0;
};

TEST(Scheduler, EventsGoToTheNextNodeWithTheirChunkInFrameAndPartOrder)
{
    const Channels in = signal(2, 10000);
    constexpr uint64_t tail = 3000;
    // What the giver's parts give up to the end of the tail, merged.
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> expected;
    for (uint64_t f = 0; f < in[0].size() + tail; ++f) {
        for (std::size_t p = 0; p < 2; ++p) {
            if (EventGiverNode::gives(p, f)) {
                expected.push_back({f, {static_cast<uint8_t>(p), static_cast<uint8_t>(f % 128)}});
            }
        }
    }
    for (const Shape& shape : shapes()) {
        SCOPED_TRACE(describe(shape));
        FakeSource source(in);
        FakeSink sink;
        Graph graph;
        graph.add(std::make_unique<EventGiverNode>(2));
        auto& next = static_cast<EventTakerNode&>(graph.add(std::make_unique<EventTakerNode>(2)));
        // A node that gives nothing passes nothing on.
        auto& after = static_cast<EventTakerNode&>(graph.add(std::make_unique<EventTakerNode>(2)));
        RenderOptions o = options(shape.block_size, shape.jobs);
        o.tail_frames = tail;
        const Outcome run = render(source, graph, sink, o);
        EXPECT_EQ(run.result.status, RenderStatus::finished);
        EXPECT_EQ(sink.out, delayed(in, {0, 0}, in[0].size() + tail));
        // The last block runs whole: events past the end may come too.
        std::vector<std::pair<uint64_t, std::vector<uint8_t>>> taken;
        for (const tonbrix::StreamEvent& event : next.taken) {
            if (event.frame < in[0].size() + tail) {
                taken.push_back({event.frame, event.bytes});
            }
        }
        EXPECT_EQ(taken, expected);
        EXPECT_TRUE(after.taken.empty());
    }
}

TEST(Scheduler, EndsWhereTheInputEnds)
{
    for (const std::size_t frames : {std::size_t{0}, std::size_t{1}, std::size_t{511},
                                     std::size_t{512}, std::size_t{513}, std::size_t{8192},
                                     std::size_t{32768}, std::size_t{32769}}) {
        for (const unsigned jobs : {1u, 2u}) {
            SCOPED_TRACE(std::to_string(frames) + " frames, " + std::to_string(jobs) + " jobs");
            const Channels in = signal(2, frames);
            FakeSource source(in);
            FakeSink sink;
            Graph graph;
            graph.add(std::make_unique<DelayNode>(2, std::vector<std::size_t>{0}));
            const Outcome run = render(source, graph, sink, options(512, jobs));
            EXPECT_EQ(run.result.status, RenderStatus::finished);
            EXPECT_EQ(sink.out, in);
            EXPECT_EQ(sink.finishes, 1);
        }
    }
}

TEST(Scheduler, RunsTheTailOnSilenceAfterTheInput)
{
    const Channels in = signal(2, 10000);
    for (const Shape& shape : shapes()) {
        SCOPED_TRACE(describe(shape));
        FakeSource source(in);
        FakeSink sink;
        Graph graph;
        // Without compensation the node's delay shows, and the tail holds
        // the end of the input that it delayed.
        graph.add(std::make_unique<DelayNode>(2, std::vector<std::size_t>{700}));
        RenderOptions o = options(shape.block_size, shape.jobs);
        o.tail_frames = 1234;
        const Outcome run = render(source, graph, sink, o);
        EXPECT_EQ(run.result.status, RenderStatus::finished);
        EXPECT_EQ(sink.out, delayed(in, {700, 700}, 10000 + 1234));
    }
}

TEST(Scheduler, TheFirstNodeReadsInterleavedFramesWhenTheSourceGivesThem)
{
    // Odd channel counts, parts that share one chunk, and a tail that pads
    // the input's last block with silence in the chunk's own layout. A second
    // node that could read them still gets plain channels: only the source
    // gives interleaved frames.
    struct Case {
        uint32_t channels;
        std::vector<std::size_t> latency; // by part of the first node
        bool source_interleaves;
        bool node_reads;
    };
    const Case cases[] = {
        {2, {0, 300}, true, true},  {3, {7}, true, true},       {5, {300}, true, true},
        {1, {5}, true, true},       {2, {0, 300}, false, true}, {3, {7}, true, false},
    };
    for (const Case& c : cases) {
        const Channels in = signal(c.channels, long_input);
        const bool interleaved = c.source_interleaves && c.node_reads && c.channels > 1;
        std::vector<std::size_t> delays;
        for (uint32_t ch = 0; ch < c.channels; ++ch) {
            delays.push_back(c.latency[ch / (c.channels / c.latency.size())]);
        }
        for (const Shape& shape : shapes()) {
            SCOPED_TRACE(describe(shape) + ", " + std::to_string(c.channels) + " channels, " +
                         (c.source_interleaves ? "interleaving source" : "plain source") +
                         (c.node_reads ? ", node reads them" : ", node reads plain ones"));
            FakeSource source(in);
            source.interleaves = c.source_interleaves;
            FakeSink sink;
            Graph graph;
            auto& first = static_cast<DelayNode&>(
                graph.add(std::make_unique<DelayNode>(c.channels, c.latency)));
            first.interleaved = c.node_reads;
            auto& second = static_cast<DelayNode&>(graph.add(std::make_unique<DelayNode>(
                c.channels, std::vector<std::size_t>{0})));
            second.interleaved = true;
            RenderOptions o = options(shape.block_size, shape.jobs);
            o.tail_frames = 1234;
            const Outcome run = render(source, graph, sink, o);
            EXPECT_EQ(run.result.status, RenderStatus::finished);
            EXPECT_EQ(sink.out, delayed(in, delays, long_input + 1234));
            for (const auto& steps : first.steps_) {
                EXPECT_EQ(steps, std::vector<std::size_t>(steps.size(),
                                                          interleaved ? c.channels : 1));
            }
            EXPECT_EQ(second.steps_[0], std::vector<std::size_t>(second.steps_[0].size(), 1));
        }
    }
}

TEST(Scheduler, LinesUpAChainOfNodesWithDifferentLatencies)
{
    // Node 1 delays its two parts by 3 and 250 frames, node 2 sums a channel
    // of each part (which must line up first) and node 3 delays by 1000 more.
    const Channels in = signal(4, long_input);
    Channels sums(2, std::vector<float>(long_input));
    for (std::size_t f = 0; f < long_input; ++f) {
        sums[0][f] = in[0][f] + in[2][f];
        sums[1][f] = in[1][f] + in[3][f];
    }
    for (const Shape& shape : shapes()) {
        for (const uint64_t tail : {uint64_t{0}, uint64_t{777}}) {
            SCOPED_TRACE(describe(shape) + ", tail " + std::to_string(tail));
            FakeSource source(in);
            FakeSink sink;
            Graph graph;
            graph.add(std::make_unique<DelayNode>(4, std::vector<std::size_t>{3, 250}));
            graph.add(std::make_unique<PairSumNode>(2));
            auto& last = static_cast<DelayNode&>(graph.add(
                std::make_unique<DelayNode>(2, std::vector<std::size_t>{1000, 1000}, 0.5f)));
            RenderOptions o = options(shape.block_size, shape.jobs);
            o.compensate_latency = true;
            o.tail_frames = tail;
            const Outcome run = render(source, graph, sink, o);
            EXPECT_EQ(run.result.status, RenderStatus::finished);
            Channels expected = delayed(sums, {0, 0}, long_input + tail);
            for (auto& channel : expected) {
                for (float& x : channel) {
                    x *= 0.5f;
                }
            }
            EXPECT_EQ(sink.out, expected);
            EXPECT_TRUE(run.warnings.empty());
            // The nodes run on silence only as far as the output needs:
            // within the last chunk, at every job count.
            const std::size_t target = shape.jobs > 1 ? 32768 : 8192;
            const std::size_t chunk =
                shape.block_size * std::max<std::size_t>(1, target / shape.block_size);
            const std::size_t needed = long_input + tail + 1250;
            for (const auto& chunks : last.chunks_) {
                const std::size_t ran = std::accumulate(chunks.begin(), chunks.end(), std::size_t{0});
                EXPECT_GE(ran, needed);
                EXPECT_LT(ran, needed + chunk);
            }
        }
    }
}

TEST(Scheduler, TakesEachPartsLatencyOutAtTheSink)
{
    const Channels in = signal(3, 20000);
    for (const unsigned jobs : {1u, 3u}) {
        FakeSource source(in);
        FakeSink sink;
        Graph graph;
        graph.add(std::make_unique<DelayNode>(3, std::vector<std::size_t>{0, 17, 9000}));
        RenderOptions o = options(64, jobs);
        o.compensate_latency = true;
        const Outcome run = render(source, graph, sink, o);
        EXPECT_EQ(run.result.status, RenderStatus::finished);
        EXPECT_EQ(sink.out, in);
    }
}

TEST(Scheduler, WarnsOnceOfAnInvalidLatencyAndTakesItAsZero)
{
    for (const double reading : {-3.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        const Channels in = signal(2, 3000);
        FakeSource source(in);
        FakeSink sink;
        Graph graph;
        auto& node = static_cast<DelayNode&>(
            graph.add(std::make_unique<DelayNode>(2, std::vector<std::size_t>{0, 0})));
        node.reported = reading;
        RenderOptions o = options(256, 2);
        o.compensate_latency = true;
        const Outcome run = render(source, graph, sink, o);
        EXPECT_EQ(run.result.status, RenderStatus::finished);
        EXPECT_EQ(sink.out, in);
        ASSERT_EQ(run.warnings.size(), 1u);
        char expected[128];
        std::snprintf(expected, sizeof expected,
                      "WARNING: The plugin reported an invalid latency (%g); it was taken as 0.\n",
                      reading);
        EXPECT_EQ(run.warnings[0], expected);
    }
}

TEST(Scheduler, RepairsAndWarnsInChunkOrder)
{
    // An invalid latency at the first chunk, clipping in the second, NaN in
    // the fourth: the warnings come in that order, each once, at every job count.
    Channels in = signal(2, 5 * 8192);
    in[1][8192 + 5] = 1.5f;
    in[0][3 * 8192 + 1] = std::nanf("");
    in[0][3 * 8192 + 2] = -7.0f;
    for (const unsigned jobs : {1u, 2u, 3u}) {
        for (const bool check : {true, false}) {
            SCOPED_TRACE(std::to_string(jobs) + " jobs, check " + std::to_string(check));
            FakeSource source(in);
            FakeSink sink;
            Graph graph;
            auto& node = static_cast<DelayNode&>(
                graph.add(std::make_unique<DelayNode>(2, std::vector<std::size_t>{0})));
            node.reported = -1.0;
            RenderOptions o = options(1024, jobs);
            o.compensate_latency = true;
            o.check_clipping = check;
            const Outcome run = render(source, graph, sink, o);
            EXPECT_EQ(run.result.status, RenderStatus::finished);
            if (check) {
                EXPECT_EQ(starts(run.warnings),
                          (std::vector<std::string>{invalid_latency, clipping, not_a_number}));
                EXPECT_EQ(sink.out[1][8192 + 5], 1.0f);
                EXPECT_EQ(sink.out[0][3 * 8192 + 1], 0.0f);
                EXPECT_EQ(sink.out[0][3 * 8192 + 2], -1.0f);
            } else {
                EXPECT_EQ(starts(run.warnings), std::vector<std::string>{invalid_latency});
                EXPECT_EQ(sink.out[1][8192 + 5], 1.5f);
                EXPECT_TRUE(std::isnan(sink.out[0][3 * 8192 + 1]));
            }
        }
    }
}

TEST(Scheduler, AFailingNodeEndsTheRenderAfterTheChunksBefore)
{
    const Channels in = signal(2, long_input);
    for (const Shape& shape : shapes()) {
        SCOPED_TRACE(describe(shape));
        FakeSource source(in);
        FakeSink sink;
        Graph graph;
        graph.add(std::make_unique<DelayNode>(2, std::vector<std::size_t>{0, 0}));
        auto& failing = static_cast<DelayNode&>(
            graph.add(std::make_unique<DelayNode>(2, std::vector<std::size_t>{0, 0})));
        failing.fail_at = 70000;
        const Outcome run = render(source, graph, sink, options(shape.block_size, shape.jobs));
        EXPECT_EQ(run.result.status, RenderStatus::failed);
        ASSERT_TRUE(run.result.error);
        EXPECT_EQ(run.result.error->message, "Error: the node failed.\n");
        EXPECT_EQ(sink.finishes, 0);
        // What was written is the input up to the chunk that failed.
        const std::size_t written = sink.out[0].size();
        EXPECT_LE(written, 70000u);
        EXPECT_GT(written + std::max<std::size_t>(shape.block_size, 32768), 70000u);
        EXPECT_EQ(sink.out, delayed(in, {0, 0}, written));
    }
}

TEST(Scheduler, AFailedReadEndsTheRenderAfterTheFramesItGave)
{
    const Channels in = signal(2, 50000);
    for (const Shape& shape : shapes()) {
        for (const uint64_t tail : {uint64_t{0}, uint64_t{100}}) {
            SCOPED_TRACE(describe(shape) + ", tail " + std::to_string(tail));
            FakeSource source(in, 40001);
            FakeSink sink;
            Graph graph;
            graph.add(std::make_unique<DelayNode>(2, std::vector<std::size_t>{0}));
            RenderOptions o = options(shape.block_size, shape.jobs);
            o.tail_frames = tail;
            const Outcome run = render(source, graph, sink, o);
            EXPECT_EQ(run.result.status, RenderStatus::failed);
            ASSERT_TRUE(run.result.error);
            EXPECT_EQ(run.result.error->message, "Error reading input file: broken\n");
            EXPECT_EQ(sink.finishes, 0);
            // With a tail, the silence after the last block read may follow.
            ASSERT_GE(sink.out[0].size(), 40001u);
            EXPECT_EQ(delayed(sink.out, {0, 0}, 40001), delayed(in, {0, 0}, 40001));
        }
    }
}

TEST(Scheduler, AFailedWriteEndsTheRender)
{
    for (const unsigned jobs : {1u, 2u}) {
        const Channels in = signal(1, long_input);
        FakeSource source(in);
        FakeSink sink;
        sink.fail_write = 1;
        Graph graph;
        graph.add(std::make_unique<DelayNode>(1, std::vector<std::size_t>{0}));
        const Outcome run = render(source, graph, sink, options(100, jobs));
        EXPECT_EQ(run.result.status, RenderStatus::failed);
        ASSERT_TRUE(run.result.error);
        EXPECT_EQ(run.result.error->message, "Error writing output file: disk full\n");
        EXPECT_EQ(sink.writes, 2u);
        EXPECT_EQ(sink.finishes, 0);
    }
}

TEST(Scheduler, AStopRequestEndsTheRenderBetweenChunks)
{
    const Channels in = signal(2, 10 * 32768);
    for (const Shape& shape : shapes()) {
        SCOPED_TRACE(describe(shape));
        FakeSource source(in);
        FakeSink sink;
        Graph graph;
        graph.add(std::make_unique<DelayNode>(2, std::vector<std::size_t>{0, 0}));
        graph.add(std::make_unique<DelayNode>(2, std::vector<std::size_t>{5}));
        int asked = 0;
        const Outcome run = render(source, graph, sink, options(shape.block_size, shape.jobs),
                               [&] { return ++asked > 3; });
        EXPECT_EQ(run.result.status, RenderStatus::stopped);
        EXPECT_FALSE(run.result.error);
        EXPECT_EQ(sink.finishes, 0);
        EXPECT_LE(source.reads, 3u);
        EXPECT_EQ(sink.out, delayed(in, {5, 5}, sink.out[0].size()));
    }
}

// Passes its channels on. Part p holds one event "<name> p<p> b<g>" with
// every block g of its stream it runs, and part 1 a second one "<name>
// p1 b<g> again" with every third block; a `latency` that is not a number
// makes the node report an invalid one.
class RaisingNode : public tonbrix::Node {
public:
    RaisingNode(std::string name, uint32_t channels, std::size_t parts, tonbrix::EventSink& sink)
        : name_(std::move(name)), channels_(channels), parts_(parts), sink_(sink), seen_(parts, 0)
    {
    }
    uint32_t input_channels() const override { return channels_; }
    uint32_t output_channels() const override { return channels_; }
    std::size_t parts() const override { return parts_; }
    bool reports_latency() const override { return !std::isnan(latency_reading); }
    double latency(std::size_t) const override { return latency_reading; }
    std::optional<Error> prepare(const tonbrix::NodeSetup& setup) override
    {
        block_size_ = setup.block_size;
        return std::nullopt;
    }
    std::optional<Error> run(std::size_t part, const ChunkInput& input,
                             const ChunkOutput& output) override
    {
        const uint32_t width = channels_ / static_cast<uint32_t>(parts_);
        for (uint32_t c = static_cast<uint32_t>(part) * width; c < (part + 1) * width; ++c) {
            for (std::size_t f = 0; f < input.frames; ++f) {
                output.channel(c)[f] = input.data == nullptr ? 0.0f : input.sample(c, f);
            }
        }
        for (std::size_t offset = 0; offset < input.frames; offset += block_size_) {
            const std::size_t block = (seen_[part] + offset) / block_size_;
            const std::string text = name_ + " p" + std::to_string(part) + " b" + std::to_string(block);
            EXPECT_NE(output.held, nullptr);
            output.held->push_back({offset / block_size_, tonbrix::EventKind::worker_trace, text, &sink_});
            if (part == 1 && block % 3 == 0) {
                output.held->push_back(
                    {offset / block_size_, tonbrix::EventKind::worker_trace, text + " again", &sink_});
            }
        }
        seen_[part] += input.frames;
        return std::nullopt;
    }
    double latency_reading = std::nan("");

private:
    std::string name_;
    uint32_t channels_;
    std::size_t parts_;
    tonbrix::EventSink& sink_;
    std::size_t block_size_ = 1;
    std::vector<std::size_t> seen_;
};

// Keeps every event's text in the order reported, warnings by their start.
class Lines : public tonbrix::EventSink {
public:
    void report(tonbrix::EventKind kind, std::string_view text) noexcept override
    {
        std::lock_guard lock(mutex_);
        if (kind == tonbrix::EventKind::warning) {
            const std::vector<std::string> start = starts({std::string(text)});
            texts.push_back(start.empty() ? std::string(text) : start[0]);
        } else {
            texts.emplace_back(text);
        }
    }
    std::vector<std::string> texts;

private:
    std::mutex mutex_;
};

TEST(Scheduler, HeldEventsAndWarningsComeInBlockOrderAtEveryJobCountAndBlockSize)
{
    // Two raising nodes around a delay of 700 frames that the sink takes
    // out: block by block, the first node's parts, then the last node's;
    // the invalid latency after the first block; the clipping and the NaN
    // after the block that makes their output frame ready.
    constexpr std::size_t latency = 700;
    constexpr std::size_t clipped = 40000;
    constexpr std::size_t invalid = 70000;
    Channels in = signal(2, long_input);
    in[1][clipped] = 1.5f;
    in[0][invalid] = std::nanf("");
    for (const uint32_t block_size : {7u, 512u, 40000u}) {
        const std::size_t blocks = (long_input + latency + block_size - 1) / block_size;
        std::vector<std::string> expected;
        for (std::size_t g = 0; g < blocks; ++g) {
            const std::string b = " b" + std::to_string(g);
            expected.push_back("first p0" + b);
            expected.push_back("first p1" + b);
            if (g % 3 == 0) {
                expected.push_back("first p1" + b + " again");
            }
            expected.push_back("last p0" + b);
            if (g == 0) {
                expected.push_back(invalid_latency);
            }
            if (g == (clipped + latency) / block_size) {
                expected.push_back(clipping);
            }
            if (g == (invalid + latency) / block_size) {
                expected.push_back(not_a_number);
            }
        }
        for (const unsigned jobs : {1u, 2u, 3u}) {
            SCOPED_TRACE("block size " + std::to_string(block_size) + ", " + std::to_string(jobs) +
                         " jobs");
            Lines lines;
            FakeSource source(in);
            FakeSink sink;
            Graph graph;
            auto& first = static_cast<RaisingNode&>(
                graph.add(std::make_unique<RaisingNode>("first", 2, 2, lines)));
            first.latency_reading = -3.0;
            graph.add(std::make_unique<DelayNode>(2, std::vector<std::size_t>{latency}));
            graph.add(std::make_unique<RaisingNode>("last", 2, 1, lines));
            RenderOptions o = options(block_size, jobs);
            o.compensate_latency = true;
            RenderCallbacks callbacks;
            callbacks.events = &lines;
            const RenderResult result = tonbrix::render(source, graph, sink, o, callbacks);
            EXPECT_EQ(result.status, RenderStatus::finished);
            EXPECT_EQ(sink.out[1][clipped], 1.0f);
            EXPECT_EQ(sink.out[0][invalid], 0.0f);
            EXPECT_EQ(lines.texts, expected);
        }
    }
}

TEST(Scheduler, RunsWithoutNodes)
{
    // With a tail the sink gets the source's silence itself.
    Channels in = signal(3, 80000);
    for (const unsigned jobs : {1u, 2u}) {
        for (const uint64_t tail : {uint64_t{0}, uint64_t{50000}}) {
            // An interleaving source gives the sink plain channels all the same.
            FakeSource source(in);
            source.interleaves = true;
            FakeSink sink;
            Graph graph;
            RenderOptions o = options(333, jobs);
            o.tail_frames = tail;
            const Outcome run = render(source, graph, sink, o);
            EXPECT_EQ(run.result.status, RenderStatus::finished);
            EXPECT_EQ(sink.out, delayed(in, {0, 0, 0}, 80000 + tail));
        }
    }
}

TEST(Scheduler, RefusesNodesWhoseChannelsDoNotMeet)
{
    FakeSource source(signal(2, 10));
    FakeSink sink;
    Graph graph;
    graph.add(std::make_unique<DelayNode>(2, std::vector<std::size_t>{0}));
    graph.add(std::make_unique<PairSumNode>(2));
    const Outcome run = render(source, graph, sink, options(16, 1));
    EXPECT_EQ(run.result.status, RenderStatus::failed);
    ASSERT_TRUE(run.result.error);
    EXPECT_EQ(run.result.error->message, "Error: node 2 takes 4 channels but is given 2.\n");
    EXPECT_EQ(sink.writes, 0u);
}

TEST(Scheduler, TwoRendersRunSideBySide)
{
    const Channels in = signal(2, 100000);
    Channels outputs[2];
    std::thread threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = std::thread([&, i] {
            FakeSource source(in);
            FakeSink sink;
            Graph graph;
            graph.add(std::make_unique<DelayNode>(2, std::vector<std::size_t>{300, 300}));
            RenderOptions o = options(128, 2);
            o.compensate_latency = true;
            render(source, graph, sink, o);
            outputs[i] = sink.out;
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(outputs[0], in);
    EXPECT_EQ(outputs[1], in);
}

} // namespace
