#pragma once

#include <tonbrix/export.h>

#include <tonbrix/error.h>
#include <tonbrix/events.h>
#include <tonbrix/graph.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace tonbrix {

// What one read of a source gave: frames (none at the end of the input),
// and the failure of a read that may still have given frames; the frames
// count, and the failure ends the input.
struct SourceRead {
    std::size_t frames = 0;
    std::optional<Error> error;
};

// Where the audio of a render comes from.
class TONBRIX_API Source {
public:
    virtual ~Source() = default;
    virtual uint32_t channels() const = 0;
    // Reads up to `frames` frames into the channels of `output`; fewer only
    // at the end of the input. The output is plain channels (step 1) unless
    // the source writes_interleaved().
    virtual SourceRead read(const ChunkOutput& output, std::size_t frames) = 0;
    // Whether read() also writes interleaved frames (stride 1, step the
    // channel count), as a file holds them; it is asked to when the first
    // node reads_interleaved().
    virtual bool writes_interleaved() const { return false; }
};

// Where the audio of a render goes.
class TONBRIX_API Sink {
public:
    virtual ~Sink() = default;

    // Called once before the first write, with the channel count, the most
    // frames of one write and the render's jobs.
    virtual std::optional<Error> prepare(uint32_t, std::size_t, unsigned) { return std::nullopt; }

    // Writes `frames` frames of `count` plain channels.
    virtual std::optional<Error> write(const float* const* channels, uint32_t count,
                                       std::size_t frames) = 0;

    // Ends the output after the last write of a render that finished.
    virtual std::optional<Error> finish() { return std::nullopt; }
};

struct RenderOptions {
    uint32_t block_size = default_block_size;
    // 1 runs everything on the calling thread; more runs the source, every
    // node's parts (up to this many per node) and the sink on threads of
    // their own, each at its own pace.
    unsigned jobs = 1;
    // Takes each node's reported latency out of the output, going on past
    // the input's end with silence until the output is complete.
    bool compensate_latency = false;
    uint64_t tail_frames = 0; // frames of output after the input's end, run on silence
    // Writes NaN samples as silence and clamps samples beyond full scale,
    // with one warning for each.
    bool check_clipping = true;
};

struct RenderCallbacks {
    // Receives the warnings, in the order of the blocks they concern
    // whatever the threads and chunks: an invalid latency of a node (taken
    // as 0), then clipping and NaN samples in the output (once each). The
    // events the nodes' parts held with their blocks go to their own sinks
    // from the same thread, each block's before the warnings of its frames.
    EventSink* events = nullptr;
    // By node index: where that node's warnings go instead (an invalid
    // latency), so that a caller can say which node they concern.
    std::vector<EventSink*> node_events;
    std::function<void(uint64_t frames_written)> progress; // after each write
    std::function<bool()> stop; // asked before each chunk; true ends the render
};

enum class RenderStatus { finished, stopped, failed };

struct RenderResult {
    RenderStatus status = RenderStatus::finished;
    std::optional<Error> error; // with failed
    uint64_t frames_written = 0;
};

// Runs the source through the graph into the sink. Warnings and progress
// come from one thread and stop is asked on another (the calling thread):
// none of them is called from two threads at once.
TONBRIX_API RenderResult render(Source& source, Graph& graph, Sink& sink, const RenderOptions& options,
                    const RenderCallbacks& callbacks = {});

} // namespace tonbrix
