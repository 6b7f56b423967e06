#include "engine/scheduler.h"

#include "base/buffers.h"
#include "io/clip_stage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <system_error>
#include <thread>

namespace tonbrix {

Scheduler::Scheduler(Source& source, Graph& graph, Sink& sink, const RenderOptions& options,
                     const RenderCallbacks& callbacks)
    : source_(source), sink_(sink), options_(options), callbacks_(callbacks)
{
    for (std::size_t n = 0; n < graph.size(); ++n) {
        lanes_.emplace_back().node = &graph.node(n);
    }
}

std::optional<Error> Scheduler::prepare()
{
    block_size_ = options_.block_size;
    if (block_size_ == 0) {
        return Error{"Error: the block size must be at least 1.\n"};
    }
    jobs_ = std::max(options_.jobs, 1u);
    // The same chunks whatever the jobs, so that every run takes one path.
    const std::size_t blocks = block_size_ < chunk_frames_target ? chunk_frames_target / block_size_ : 1;
    chunk_frames_ = std::size_t{block_size_} * blocks;

    uint32_t channels = source_.channels();
    bool reports_latency = false;
    for (std::size_t n = 0; n < lanes_.size(); ++n) {
        NodeLane& lane = lanes_[n];
        const Node& node = *lane.node;
        if (node.input_channels() != channels) {
            return Error{"Error: node " + std::to_string(n + 1) + " takes " +
                         std::to_string(node.input_channels()) + " channels but is given " +
                         std::to_string(channels) + ".\n"};
        }
        const std::size_t parts = node.parts();
        if (parts == 0 || node.output_channels() % parts != 0) {
            return Error{"Error: node " + std::to_string(n + 1) +
                         " cannot share its outputs among its parts.\n"};
        }
        lane.threads = std::min<std::size_t>(jobs_, parts);
        lane.part_outputs = static_cast<uint32_t>(node.output_channels() / parts);
        reports_latency = reports_latency || node.reports_latency();
        channels = node.output_channels();
    }
    extended_ = options_.tail_frames > 0 || (options_.compensate_latency && reports_latency);

    const std::size_t depth = jobs_ > 1 ? lane_depth : 1;
    channels = source_.channels();
    // The first node reads the source's frames as a file holds them when
    // both can: one pass less over every sample.
    const bool interleaved = !lanes_.empty() && channels > 1 && source_.writes_interleaved() &&
                             lanes_.front().node->reads_interleaved();
    for (std::size_t n = 0; n <= lanes_.size(); ++n) {
        const std::size_t writers = n == 0 ? 1 : lanes_[n - 1].threads;
        const std::size_t readers = n < lanes_.size() ? lanes_[n].threads : 1;
        const std::size_t parts = n == 0 ? 0 : lanes_[n - 1].node->parts();
        if (!rings_.emplace_back().allocate(depth, channels, chunk_frames_, writers, readers,
                                            n == 0 && interleaved, parts)) {
            return Error{insufficient_memory_message};
        }
        if (n < lanes_.size()) {
            channels = lanes_[n].node->output_channels();
        }
    }
    const NodeSetup setup{block_size_, chunk_frames_, jobs_ > 1};
    for (NodeLane& lane : lanes_) {
        if (auto error = lane.node->prepare(setup)) {
            return error;
        }
    }
    channels_.assign(channels, nullptr);
    return sink_.prepare(channels, chunk_frames_, jobs_);
}

RenderResult Scheduler::run()
{
    std::optional<Error> error;
    try {
        error = prepare();
    } catch (const std::bad_alloc&) {
        error = Error{insufficient_memory_message};
    }
    if (!error) {
        if (jobs_ > 1) {
            error = run_on_threads();
        } else {
            run_on_calling_thread();
        }
    }
    RenderResult result;
    result.frames_written = written_.load();
    if (error) {
        result.status = RenderStatus::failed;
        result.error = std::move(error);
        return result;
    }
    result.status = status_;
    result.error = std::move(error_);
    // A stop that came while the threads ran the last chunks counts as one
    // that came before the end.
    if (result.status == RenderStatus::finished && jobs_ > 1 && callbacks_.stop &&
        callbacks_.stop()) {
        result.status = RenderStatus::stopped;
    }
    if (result.status == RenderStatus::finished) {
        if (auto failure = sink_.finish()) {
            result.status = RenderStatus::failed;
            result.error = std::move(failure);
        }
    }
    return result;
}

void Scheduler::run_on_calling_thread()
{
    try {
        for (uint64_t k = 0;; ++k) {
            source_step(k);
            for (std::size_t n = 0; n < lanes_.size(); ++n) {
                node_step(n, 0, k);
            }
            if (!sink_step(k)) {
                return;
            }
        }
    } catch (const std::bad_alloc&) {
        fail(Error{insufficient_memory_message});
    }
}

std::optional<Error> Scheduler::run_on_threads()
{
    // Every lane runs until it has passed the last chunk on, or until the
    // rings close: the sink closes them when it is done, and so does a lane
    // that runs out of memory.
    const auto guarded = [this](auto&& lane) {
        try {
            lane();
        } catch (const std::bad_alloc&) {
            fail(Error{insufficient_memory_message});
            close_all();
        }
    };
    std::vector<std::thread> threads;
    bool started = true;
    try {
        threads.emplace_back([this, guarded] {
            guarded([this] {
                for (uint64_t k = 0; sink_step(k); ++k) {
                }
            });
            close_all();
        });
        for (std::size_t n = 0; n < lanes_.size(); ++n) {
            for (std::size_t t = 0; t < lanes_[n].threads; ++t) {
                threads.emplace_back([this, guarded, n, t] {
                    guarded([this, n, t] {
                        for (uint64_t k = 0; node_step(n, t, k); ++k) {
                        }
                    });
                });
            }
        }
    } catch (const std::system_error&) {
        started = false;
        close_all();
    }
    if (started) {
        guarded([this] {
            for (uint64_t k = 0; source_step(k); ++k) {
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (!started) {
        return Error{insufficient_memory_message};
    }
    return std::nullopt;
}

bool Scheduler::source_step(uint64_t k)
{
    ChunkRing& ring = rings_.front();
    RingSlot* slot = ring.begin_write(k);
    if (slot == nullptr) {
        return false;
    }
    ChunkInfo& info = slot->info;
    info.warnings.clear();
    info.held.clear();
    info.frames = 0;
    info.silent = false;
    info.last = false;
    info.stopped = false;
    info.error.reset();
    bool more = true;
    const auto end = [&](std::optional<Error> error) {
        info.last = true;
        info.error = std::move(error);
        more = false;
    };
    if (callbacks_.stop && callbacks_.stop()) {
        info.stopped = true;
        end(std::nullopt);
    } else if (pending_error_) {
        end(std::move(pending_error_));
    } else if (!input_ended_) {
        SourceRead read =
            source_.read(ChunkOutput{slot->samples, ring.stride(), ring.step()}, chunk_frames_);
        if (read.frames == 0) {
            input_ended_ = true;
            if (read.error || !extended_) {
                end(std::move(read.error));
            }
        } else {
            file_frames_ += read.frames;
            pending_error_ = std::move(read.error);
            info.frames = read.frames;
            if (extended_ && read.frames % block_size_ != 0) {
                // The last block of the input: silence after its end.
                info.frames = (read.frames / block_size_ + 1) * std::size_t{block_size_};
                for (uint32_t c = 0; c < ring.channels(); ++c) {
                    float* channel = slot->samples + c * ring.stride();
                    for (std::size_t f = read.frames; f < info.frames; ++f) {
                        channel[f * ring.step()] = 0.0f;
                    }
                }
            }
        }
    }
    if (more && input_ended_ && info.frames == 0) {
        // Silence until the sink can have all it needs: the input, the tail
        // and the latency it takes out, known once the first chunk has been
        // through every node. Only the whole blocks still needed, so that
        // the nodes run as many blocks, and end in the same state, at every
        // job count and chunk size.
        const uint64_t total = file_frames_ + options_.tail_frames;
        uint64_t needed = total;
        if (k > 0) {
            ChunkRing& last = rings_.back();
            if (!last.wait_published(0)) {
                return false;
            }
            needed += last.latency.empty()
                          ? 0
                          : *std::max_element(last.latency.begin(), last.latency.end());
        }
        if (total == 0 || stream_frames_ >= needed) {
            end(std::nullopt);
        } else {
            const uint64_t blocks = (needed - stream_frames_ + block_size_ - 1) / block_size_;
            info.silent = true;
            info.frames = static_cast<std::size_t>(
                std::min<uint64_t>(blocks * block_size_, chunk_frames_));
        }
    }
    stream_frames_ += info.frames;
    info.input_ended = input_ended_;
    info.limit = file_frames_ + options_.tail_frames;
    ring.end_write(k);
    ring.publish(k);
    return more;
}

bool Scheduler::node_step(std::size_t n, std::size_t thread, uint64_t k)
{
    NodeLane& lane = lanes_[n];
    ChunkRing& in_ring = rings_[n];
    ChunkRing& out_ring = rings_[n + 1];
    RingSlot* in = in_ring.begin_read(k);
    if (in == nullptr) {
        return false;
    }
    RingSlot* out = out_ring.begin_write(k);
    if (out == nullptr) {
        in_ring.end_read(k);
        return false;
    }
    const bool last = in->info.last;
    if (!last && k < lane.failed_at.load(std::memory_order_relaxed)) {
        const ChunkInput input{in->info.silent ? nullptr : in->samples, in_ring.stride(),
                               in->info.frames, in_ring.step(), in->events};
        for (std::size_t p = thread; p < lane.node->parts(); p += lane.threads) {
            // Each part gives its events into a list of its own.
            const ChunkOutput output{out->samples, out_ring.stride(), 1, &out->part_events[p],
                                     &out->part_held[p]};
            if (auto error = lane.node->run(p, input, output)) {
                std::lock_guard lock(lane.failure_mutex);
                const uint64_t failed_at = lane.failed_at.load(std::memory_order_relaxed);
                if (k < failed_at || (k == failed_at && p < lane.failed_part)) {
                    lane.failed_at.store(k, std::memory_order_relaxed);
                    lane.failed_part = p;
                    lane.failure = std::move(error);
                }
                break;
            }
        }
    }
    if (out_ring.end_write(k)) {
        finish_node_chunk(n, k, *in, *out);
        out_ring.publish(k);
    }
    in_ring.end_read(k);
    return !last;
}

void Scheduler::finish_node_chunk(std::size_t n, uint64_t k, RingSlot& in, RingSlot& out)
{
    NodeLane& lane = lanes_[n];
    // Every part is done with the input: its held events move on.
    std::vector<HeldEvent> upstream = std::move(in.info.held);
    in.info.held.clear();
    out.info = in.info;
    merge_held(std::move(upstream), out);
    out.info.silent = false; // the node's outputs are samples, whatever its input was
    // The parts' events go on with the chunk, in frame order, part by part
    // at one frame.
    out.events.clear();
    for (std::vector<StreamEvent>& given : out.part_events) {
        std::move(given.begin(), given.end(), std::back_inserter(out.events));
        given.clear();
    }
    std::stable_sort(out.events.begin(), out.events.end(),
                     [](const StreamEvent& a, const StreamEvent& b) { return a.frame < b.frame; });
    if (out.info.last) {
        out.events.clear();
        return;
    }
    {
        std::lock_guard lock(lane.failure_mutex);
        if (lane.failed_at.load(std::memory_order_relaxed) == k) {
            out.info.last = true;
            out.info.frames = 0;
            out.info.error = lane.failure;
            out.events.clear();
            return;
        }
    }
    if (k == 0) {
        settle_latencies(n, out.info.warnings);
    }
    if (lane.delayed) {
        const ChunkRing& ring = rings_[n + 1];
        for (uint32_t c = 0; c < ring.channels(); ++c) {
            lane.delays[c].apply(out.samples + c * ring.stride(), out.info.frames);
        }
    }
}

// The node's own held events go after those of the nodes before it at
// each block, part by part in order.
void Scheduler::merge_held(std::vector<HeldEvent> upstream, RingSlot& out)
{
    std::vector<HeldEvent> own;
    for (std::vector<HeldEvent>& raised : out.part_held) {
        std::move(raised.begin(), raised.end(), std::back_inserter(own));
        raised.clear();
    }
    if (own.empty()) {
        out.info.held = std::move(upstream);
        return;
    }
    const auto by_block = [](const HeldEvent& a, const HeldEvent& b) { return a.block < b.block; };
    std::stable_sort(own.begin(), own.end(), by_block);
    if (upstream.empty()) {
        out.info.held = std::move(own);
        return;
    }
    out.info.held.clear();
    out.info.held.reserve(upstream.size() + own.size());
    std::merge(std::make_move_iterator(upstream.begin()), std::make_move_iterator(upstream.end()),
               std::make_move_iterator(own.begin()), std::make_move_iterator(own.end()),
               std::back_inserter(out.info.held), by_block);
}

// The latency of each output of node n: what its inputs carry and what its
// part adds, read after the part's first run. Outputs that go on to another
// node are delayed to the latest of them, so that the next node's inputs
// line up; the sink takes the rest out.
void Scheduler::settle_latencies(std::size_t n, std::vector<NodeWarning>& warnings)
{
    NodeLane& lane = lanes_[n];
    const Node& node = *lane.node;
    const std::vector<uint64_t>& in = rings_[n].latency;
    const uint64_t base = in.empty() ? 0 : *std::max_element(in.begin(), in.end());
    std::vector<uint64_t>& out = rings_[n + 1].latency;
    bool warned = false;
    for (std::size_t p = 0; p < node.parts(); ++p) {
        uint64_t added = 0;
        if (options_.compensate_latency && node.reports_latency()) {
            const double reading = node.latency(p);
            if (!std::isfinite(reading) || reading < 0.0) {
                if (!warned) {
                    char text[128];
                    std::snprintf(text, sizeof text,
                                  "WARNING: The plugin reported an invalid latency (%g); it was "
                                  "taken as 0.\n",
                                  reading);
                    warnings.push_back({n, text});
                    warned = true;
                }
            } else {
                added = static_cast<uint64_t>(std::llround(reading));
            }
        }
        for (uint32_t q = 0; q < lane.part_outputs; ++q) {
            out[p * lane.part_outputs + q] = base + added;
        }
    }
    if (n + 1 == lanes_.size() || out.empty()) {
        return;
    }
    const uint64_t latest = *std::max_element(out.begin(), out.end());
    lane.delays.resize(out.size());
    for (std::size_t c = 0; c < out.size(); ++c) {
        lane.delays[c].set_delay(static_cast<std::size_t>(latest - out[c]));
        lane.delayed = lane.delayed || latest != out[c];
        out[c] = latest;
    }
}

// The sink reports what the chunk carries as a run of one block per chunk
// on one thread would: block by block, the events the nodes raised for the
// block, then (after the first) the chunk's warnings, then the clipping and
// NaN warnings of the output frames the block made ready.
bool Scheduler::sink_step(uint64_t k)
{
    ChunkRing& ring = rings_.back();
    RingSlot* slot = ring.begin_read(k);
    if (slot == nullptr) {
        return false;
    }
    const ChunkInfo& info = slot->info;
    std::size_t next_held = 0;
    if (info.last) {
        report_held(info, next_held, SIZE_MAX);
        report_warnings(info);
        if (info.error) {
            fail(*info.error);
        } else if (info.stopped) {
            std::lock_guard lock(outcome_mutex_);
            status_ = RenderStatus::stopped;
        }
        ring.end_read(k);
        return false;
    }
    if (k == 0 && options_.compensate_latency) {
        trimming_ = std::any_of(ring.latency.begin(), ring.latency.end(),
                                [](uint64_t frames) { return frames != 0; });
        if (trimming_) {
            trim_.reset(ring.latency);
        }
    }
    if (info.silent) {
        // Silence straight from the source, with no node between.
        std::fill(slot->samples, slot->samples + ring.channels() * ring.stride(), 0.0f);
    }
    const uint64_t written = written_.load(std::memory_order_relaxed);
    // Only what the input and the tail ask for goes out.
    const uint64_t room =
        !extended_ ? UINT64_MAX : info.limit > written ? info.limit - written : 0;
    const std::size_t blocks = std::max<std::size_t>(1, (info.frames + block_size_ - 1) / block_size_);
    ready_after_.resize(blocks);
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t begin = std::min(info.frames, b * std::size_t{block_size_});
        const std::size_t end = std::min(info.frames, begin + block_size_);
        std::size_t ready = end;
        if (trimming_) {
            trim_.append(slot->samples + begin, ring.stride(), end - begin);
            ready = trim_.ready();
        }
        ready_after_[b] = static_cast<std::size_t>(std::min<uint64_t>(ready, room));
    }
    const std::size_t ready = ready_after_.back();
    for (uint32_t c = 0; c < ring.channels(); ++c) {
        channels_[c] = trimming_ ? trim_.channel(c) : slot->samples + c * ring.stride();
    }
    // Block by block only where there is something to repair: the common
    // case costs one pass.
    bool flawed = false;
    if (options_.check_clipping) {
        for (const float* channel : channels_) {
            flawed = flawed || !samples_are_sound(channel, ready);
        }
    }
    std::size_t checked = 0;
    for (std::size_t b = 0; b < blocks; ++b) {
        report_held(info, next_held, b);
        if (b == 0) {
            report_warnings(info);
        }
        if (flawed) {
            check_samples(checked, ready_after_[b]);
            checked = std::max(checked, ready_after_[b]);
        }
    }
    report_held(info, next_held, SIZE_MAX);
    bool ok = true;
    if (ready > 0) {
        if (auto error = sink_.write(channels_.data(), ring.channels(), ready)) {
            fail(std::move(*error));
            ok = false;
        } else {
            written_.store(written + ready);
            if (callbacks_.progress) {
                callbacks_.progress(written + ready);
            }
        }
    }
    if (trimming_) {
        trim_.consume(ready);
    }
    const bool complete = extended_ && info.input_ended && written + ready >= info.limit;
    ring.end_read(k);
    return ok && !complete;
}

// Reports the chunk's held events from `next` on, up to those of block
// `through_block`.
void Scheduler::report_held(const ChunkInfo& info, std::size_t& next, std::size_t through_block)
{
    for (; next < info.held.size() && info.held[next].block <= through_block; ++next) {
        const HeldEvent& event = info.held[next];
        if (event.sink != nullptr) {
            event.sink->report(event.kind, event.text);
        }
    }
}

void Scheduler::report_warnings(const ChunkInfo& info)
{
    for (const NodeWarning& warning : info.warnings) {
        warn_of_node(warning);
    }
}

// Repairs output frames [from, to) of every channel, with a warning the
// first time each flaw is found.
void Scheduler::check_samples(std::size_t from, std::size_t to)
{
    if (to <= from) {
        return;
    }
    unsigned flaws = 0;
    for (float* channel : channels_) {
        flaws |= repair_samples(channel + from, to - from, true);
    }
    if ((flaws & beyond_full_scale) != 0 && !warned_clipping_) {
        warned_clipping_ = true;
        warn(clipping_warning);
    }
    if ((flaws & not_a_number) != 0 && !warned_invalid_) {
        warned_invalid_ = true;
        warn(invalid_samples_warning);
    }
}

void Scheduler::warn(std::string_view text)
{
    if (callbacks_.events != nullptr) {
        callbacks_.events->report(EventKind::warning, text);
    }
}

void Scheduler::warn_of_node(const NodeWarning& warning)
{
    const std::vector<EventSink*>& by_node = callbacks_.node_events;
    if (warning.node < by_node.size() && by_node[warning.node] != nullptr) {
        by_node[warning.node]->report(EventKind::warning, warning.text);
    } else {
        warn(warning.text);
    }
}

void Scheduler::fail(Error error)
{
    std::lock_guard lock(outcome_mutex_);
    if (status_ != RenderStatus::failed) {
        status_ = RenderStatus::failed;
        error_ = std::move(error);
    }
}

void Scheduler::close_all()
{
    for (ChunkRing& ring : rings_) {
        ring.close();
    }
}

RenderResult render(Source& source, Graph& graph, Sink& sink, const RenderOptions& options,
                    const RenderCallbacks& callbacks)
{
    Scheduler scheduler(source, graph, sink, options, callbacks);
    return scheduler.run();
}

} // namespace tonbrix
