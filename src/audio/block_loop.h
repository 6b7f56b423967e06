#pragma once

#include "audio/buffers.h"
#include "audio/ports.h"
#include "cli/uri_nodes.h"

#include <lv2/atom/atom.h>
#include <sndfile.h>

#include <cstdint>
#include <cstdio>
#include <vector>

// Capacity in bytes of the output atom buffer's body; also the sequence
// size the plugins are told.
inline constexpr uint32_t atom_body_capacity = 32768;

// The buffers the plugin ports are connected to. They must outlive the
// instances, which keep pointers into them.
struct RunBuffers {
    FloatBuffer input_ports;  // [instance][audio input][frame]
    FloatBuffer output_ports; // [instance][audio output][frame]
    std::vector<float> control_inputs;
    std::vector<float> control_outputs;
    LV2_Atom_Sequence input_sequence{};
    // 8-byte header, the body, and 8 bytes more; 8-byte aligned.
    std::vector<uint64_t> output_atom = std::vector<uint64_t>((8 + atom_body_capacity + 8) / 8);
};

// Sizes of one run, in frames, channels, ports and instances.
struct BlockShape {
    uint32_t block_size = 0; // B
    uint32_t channels = 0;   // K, file channels
    uint32_t inputs = 0;     // I, audio inputs per instance
    uint32_t outputs = 0;    // O, audio outputs per instance
    uint32_t instances = 0;  // N
};

// Allocates the port buffers; false when they cannot be had.
bool allocate_port_buffers(const BlockShape& shape, RunBuffers& buffers);

// Connects every port of every instance to the run buffers.
void connect_ports(const LilvPlugin* plugin, const UriNodes& nodes, const PortIndexLists& lists,
                   const std::vector<LilvInstance*>& instances, const BlockShape& shape,
                   RunBuffers& buffers);

// Each plugin input sample becomes the mean of the file channels connected
// to it, 0 when none is. Only frames below `frames` are written.
void mix_inputs(const float* file_block, int64_t frames, uint32_t channels, uint32_t instances,
                uint32_t inputs, const uint8_t* matrix, uint32_t block_size, float* port_buffers);

// Gathers the outputs of every instance into interleaved frames of
// instances * outputs samples: instance m's output q is channel m * outputs + q.
void interleave_outputs(int64_t frames, uint32_t instances, uint32_t outputs, uint32_t block_size,
                        const float* port_buffers, float* out_block);

// Clamps samples beyond +-1.0 (NaN stays); true when any was clamped.
bool clamp_samples(float* samples, std::size_t count);

// True when any sample lies beyond +-1.0 (NaN does not).
bool exceeds_full_scale(const float* samples, std::size_t count);

// Converts samples to 16-bit integers scaled by 32768, rounded to the
// nearest (ties to even), saturated to the 16-bit range; NaN gives 0. A
// 16-bit input read as floats thus comes back unchanged.
void float_to_pcm16(const float* samples, std::size_t count, int16_t* out);

inline constexpr const char* clipping_warning =
    "WARNING: Clipping output.\nTry changing parameters of the plugin to lower the output "
    "volume, or if that's not possible, try lowering the volume of the input before "
    "processing.\n";

enum class LoopResult { finished, out_of_memory, read_failed, write_failed };

struct BlockLoop {
    BlockShape shape;
    const uint8_t* matrix = nullptr;
    RunBuffers* buffers = nullptr;
    const std::vector<LilvInstance*>* instances = nullptr;
    SNDFILE* input = nullptr;
    SNDFILE* output = nullptr;
    FILE* notes = stdout; // where the clipping warning goes
    bool pcm16_output = false; // write 16-bit integers converted here
};

// Reads, mixes, runs, interleaves and writes until the input is exhausted.
// The checked variant clamps every block and warns once; the unchecked one
// writes samples as the plugin produced them. Errors are printed.
LoopResult process_checked(const BlockLoop& loop);
LoopResult process_unchecked(const BlockLoop& loop);
