#pragma once

#include "engine/chunk_ring.h"
#include "engine/delay_line.h"
#include "engine/latency_trim.h"

#include <tonbrix/render.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <deque>
#include <vector>

namespace tonbrix {

// Frames per chunk (whole blocks of at least this many, or one larger
// block), whatever the jobs: each chunk costs a few hand-overs between
// threads.
inline constexpr uint32_t chunk_frames_target = 32768;
// Chunks in flight between two lanes.
inline constexpr std::size_t lane_depth = 4;

// One run of a graph. Each lane (the source, each node, the sink) goes
// through the chunks in order and waits only for the chunk it needs from
// the lane before it and for room in the ring to the lane after it. With
// one job every lane runs on the calling thread, chunk by chunk in turn.
class Scheduler {
public:
    Scheduler(Source& source, Graph& graph, Sink& sink, const RenderOptions& options,
              const RenderCallbacks& callbacks);
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    RenderResult run();

private:
    struct NodeLane {
        Node* node = nullptr;
        std::size_t threads = 1;
        uint32_t part_outputs = 0; // outputs of each part
        // The earliest failure, by chunk and then by part.
        std::mutex failure_mutex;
        std::atomic<uint64_t> failed_at{UINT64_MAX};
        std::size_t failed_part = 0;
        std::optional<Error> failure;
        std::vector<DelayLine> delays; // by output, lining up the next node's inputs
        bool delayed = false;
    };

    std::optional<Error> prepare();
    void run_on_calling_thread();
    std::optional<Error> run_on_threads();
    bool source_step(uint64_t k);
    bool node_step(std::size_t n, std::size_t thread, uint64_t k);
    bool sink_step(uint64_t k);
    void finish_node_chunk(std::size_t n, uint64_t k, RingSlot& in, RingSlot& out);
    static void merge_held(std::vector<HeldEvent> upstream, RingSlot& out);
    void report_held(const ChunkInfo& info, std::size_t& next, std::size_t through_block);
    void report_warnings(const ChunkInfo& info);
    void check_samples(std::size_t from, std::size_t to);
    void settle_latencies(std::size_t n, std::vector<NodeWarning>& warnings);
    void warn(std::string_view text);
    void warn_of_node(const NodeWarning& warning);
    void fail(Error error);
    void close_all();

    Source& source_;
    Sink& sink_;
    const RenderOptions& options_;
    const RenderCallbacks& callbacks_;
    uint32_t block_size_ = 0;
    unsigned jobs_ = 1;
    std::size_t chunk_frames_ = 0;
    bool extended_ = false; // the input goes on as silence after its end
    std::deque<NodeLane> lanes_;
    std::deque<ChunkRing> rings_;  // ring n feeds node n; the last feeds the sink

    // The source lane's.
    uint64_t file_frames_ = 0;
    uint64_t stream_frames_ = 0; // frames sent on: the input, padding and silence
    bool input_ended_ = false;
    std::optional<Error> pending_error_; // a read failed after giving frames

    // The sink lane's.
    LatencyTrim trim_;
    bool trimming_ = false;
    std::vector<float*> channels_;
    bool warned_clipping_ = false;
    bool warned_invalid_ = false;
    std::vector<std::size_t> ready_after_; // by block of the chunk: output frames ready after it
    std::atomic<uint64_t> written_{0};

    // The outcome, set by the sink lane (or any lane that runs out of memory).
    std::mutex outcome_mutex_;
    RenderStatus status_ = RenderStatus::finished;
    std::optional<Error> error_;
};

} // namespace tonbrix
