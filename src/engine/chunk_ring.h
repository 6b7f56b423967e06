#pragma once

#include "base/buffers.h"

#include <tonbrix/render.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tonbrix {

// A warning about one node of the graph (its index from 0).
struct NodeWarning {
    std::size_t node = 0;
    std::string text;
};

// What travels with a chunk besides its samples.
struct ChunkInfo {
    std::size_t frames = 0;
    bool silent = false;  // no samples: silence after the input
    bool last = false;    // no samples, and nothing after it
    bool stopped = false; // with last: a stop request ended the stream
    std::optional<Error> error; // with last: the failure that ended the stream
    bool input_ended = false;   // the input was read to its end before this chunk
    uint64_t limit = 0;         // frames the output may hold up to here: input read, and the tail
    std::vector<NodeWarning> warnings; // raised for this chunk, in order
    // What the nodes' parts raised while they ran the chunk's blocks, by
    // block, then node, then part, each in the order raised.
    std::vector<HeldEvent> held;
};

struct RingSlot {
    float* samples = nullptr; // frame f of channel c at samples[c * stride + f * step]
    ChunkInfo info;
    // The events the chunk carries to the next lane, in frame order, and
    // by part of the writing node those its parts give, merged into
    // `events` by the last writer.
    std::vector<StreamEvent> events;
    std::vector<std::vector<StreamEvent>> part_events;
    // By part of the writing node, what it raised while it ran the chunk;
    // merged into info.held by the last writer.
    std::vector<std::vector<HeldEvent>> part_held;
};

// Chunks in flight from one lane to the next, `depth` at most: chunk k sits in
// slot k % depth. Every writer thread writes its share of each chunk in order
// and every reader thread reads each chunk in order; a chunk is published when
// its last writer is done with it, and its slot is free again when its last
// reader is. Closing wakes both sides and fails every wait from then on.
class ChunkRing {
public:
    ChunkRing() = default;
    ChunkRing(const ChunkRing&) = delete;
    ChunkRing& operator=(const ChunkRing&) = delete;

    // False when the samples cannot be had. Each slot holds `frames` frames
    // of plain channels, or of interleaved frames, and an event list and
    // a held-event list for each of `parts` parts of the writing node.
    bool allocate(std::size_t depth, uint32_t channels, std::size_t frames, std::size_t writers,
                  std::size_t readers, bool interleaved = false, std::size_t parts = 0);

    uint32_t channels() const { return channels_; }
    std::size_t stride() const { return stride_; }
    std::size_t step() const { return step_; }

    // Waits until chunk k may be written; null once the ring is closed.
    RingSlot* begin_write(uint64_t k);
    // This writer is done with chunk k; true for the last one, which then
    // completes the chunk's info and calls publish(k).
    bool end_write(uint64_t k);
    void publish(uint64_t k);

    // Waits until chunk k is published; null once the ring is closed.
    RingSlot* begin_read(uint64_t k);
    // This reader is done with chunk k.
    void end_read(uint64_t k);

    // Waits until chunk k is published, without reading it; false once
    // the ring is closed.
    bool wait_published(uint64_t k);

    void close();

    // The latency of each channel in frames, set with the first chunk.
    std::vector<uint64_t> latency;

private:
    std::vector<RingSlot> slots_;
    std::vector<std::size_t> writers_left_; // by slot
    std::vector<std::size_t> readers_left_; // by slot
    FloatBuffer samples_;
    uint32_t channels_ = 0;
    std::size_t stride_ = 0;
    std::size_t step_ = 1;
    std::size_t writers_ = 1;
    std::size_t readers_ = 1;
    std::mutex mutex_;
    std::condition_variable room_;
    std::condition_variable ready_;
    uint64_t published_ = 0; // chunks published
    uint64_t released_ = 0;  // chunks every reader is done with
    std::size_t waiting_writers_ = 0;
    std::size_t waiting_readers_ = 0;
    bool closed_ = false;
};

} // namespace tonbrix
