#pragma once

#include <tonbrix/export.h>

#include <tonbrix/error.h>
#include <tonbrix/events.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace tonbrix {

// A MIDI message that one node of a chain gives the next, at a frame of the
// stream (0 is the first frame of the input; frames after its end go on
// counting).
struct StreamEvent {
    uint64_t frame = 0;
    std::vector<uint8_t> bytes;
};

// The channels a node reads: frame f of channel c is data[c * stride + f * step].
// Plain channels have step 1; interleaved frames (only for a node that
// reads_interleaved()) have stride 1 and step the channel count. Without
// data the chunk is silence.
struct ChunkInput {
    const float* data = nullptr;
    std::size_t stride = 0;
    std::size_t frames = 0;
    std::size_t step = 1;
    // What the node before gave with this chunk, in frame order: events
    // within the chunk's blocks (the last block whole).
    std::span<const StreamEvent> events = {};

    const float* channel(uint32_t c) const { return data + c * stride; }
    float sample(uint32_t c, std::size_t f) const { return data[c * stride + f * step]; }
};

// The channels a node or source writes: frame f of channel c goes to
// data[c * stride + f * step]. Nodes always write plain channels (step 1);
// a source that writes_interleaved() may be given interleaved frames.
struct ChunkOutput {
    float* data = nullptr;
    std::size_t stride = 0;
    std::size_t step = 1;
    // Where a node's part appends the events it gives the next node with
    // this chunk, in frame order; the parts' lists are merged by frame (at
    // one frame, part by part in order). Null where nothing takes them.
    std::vector<StreamEvent>* events = nullptr;
    // Where a node's part puts the events raised on its thread while it
    // runs the chunk (a plugin's log lines and worker trace), each with its
    // block; the render reports them block by block, node by node and part
    // by part. Null: they go straight to their sinks.
    std::vector<HeldEvent>* held = nullptr;

    float* channel(uint32_t c) const { return data + c * stride; }
};

// The block size of a run, a render and a plugin node unless they say
// otherwise: the command line's.
inline constexpr uint32_t default_block_size = 512;

// What a node learns before its first chunk.
struct NodeSetup {
    uint32_t block_size = 0;      // frames per run of the node
    std::size_t chunk_frames = 0; // most frames of a chunk, whole blocks
    bool threaded = false;        // the chunks come from other threads
};

// One step of processing in a graph. A chunk holds whole blocks of the block
// size except perhaps the last of a stream; a node runs it block by block.
class TONBRIX_API Node {
public:
    virtual ~Node() = default;

    virtual uint32_t input_channels() const = 0;
    virtual uint32_t output_channels() const = 0;

    // Parts that may run side by side, each always on the same thread. The
    // outputs are shared out evenly among them in order: part p writes
    // outputs p * O / parts() up to (p + 1) * O / parts().
    virtual std::size_t parts() const { return 1; }

    // Whether run() reads its input at any step, interleaved frames as well
    // as plain channels: the first node of a graph that does reads a file's
    // frames as the source gives them, without a pass that separates them.
    virtual bool reads_interleaved() const { return false; }

    // Called once before the first chunk; an error ends the render.
    virtual std::optional<Error> prepare(const NodeSetup&) { return std::nullopt; }

    // Runs part `part` over one chunk: reads all of `input` and writes the
    // first `input.frames` frames of its own outputs. An error ends the
    // render after the chunks before this one.
    virtual std::optional<Error> run(std::size_t part, const ChunkInput& input,
                                     const ChunkOutput& output) = 0;

    // Whether the node tells its latency; with compensation the render then
    // goes on past the input's end until the delayed output is complete.
    virtual bool reports_latency() const { return false; }

    // The latency of a part's outputs in frames, as read after its first
    // block; a negative or non-finite reading is warned of and taken as 0.
    virtual double latency(std::size_t) const { return 0.0; }
};

// Nodes in a chain from the source to the sink: each node takes all the
// outputs of the one before it (the source's channels for the first), and
// the sink takes the outputs of the last (the source's when there is none).
class TONBRIX_API Graph {
public:
    // Appends a node to the chain and returns it.
    Node& add(std::unique_ptr<Node> node);

    std::size_t size() const { return nodes_.size(); }
    Node& node(std::size_t index) const { return *nodes_[index]; }

private:
    std::vector<std::unique_ptr<Node>> nodes_;
};

} // namespace tonbrix
