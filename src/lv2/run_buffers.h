#pragma once

#include "base/buffers.h"
#include "lv2/ports.h"

#include <lv2/atom/atom.h>

#include <cstdint>
#include <vector>

namespace tonbrix {

// Capacity in bytes of an atom port buffer's body; also the sequence size
// the plugins are told.
inline constexpr uint32_t atom_body_capacity = 32768;

// An 8-byte aligned atom buffer: the header, the body, and 8 bytes more.
using AtomBuffer = std::vector<uint64_t>;

// What one instance owns alone: it may write into these during its run,
// so instances never share them.
struct InstanceBuffers {
    std::vector<float> control_outputs;  // by control output, in port order
    std::vector<float> cv_outputs;        // [CV output][frame], never read
    std::vector<AtomBuffer> atom_inputs;  // by atom input, in port order
    std::vector<AtomBuffer> atom_outputs; // by atom output, in port order
};

// Sizes of one run, in frames, channels, ports and instances.
struct BlockShape {
    uint32_t block_size = 0; // B
    uint32_t channels = 0;   // K, file channels
    uint32_t inputs = 0;     // I, audio inputs per instance
    uint32_t outputs = 0;    // O, audio outputs per instance
    uint32_t instances = 0;  // N
};

// The buffers the plugin ports are connected to. They must outlive the
// instances, which keep pointers into them, and never move once connected.
struct RunBuffers {
    FloatBuffer input_ports;  // [instance][audio input][frame]
    FloatBuffer output_ports; // [instance][audio output][frame]
    std::vector<float> control_inputs; // by control input; read by every instance
    std::vector<float> cv_values;      // by CV input: the value it holds all run
    FloatBuffer cv_inputs;             // [CV input][frame]; read by every instance
    std::vector<InstanceBuffers> instances;
};

// Allocates the port buffers of every instance, atom inputs holding an
// empty sequence (of the URID `sequence_type`); false when they cannot be
// had.
bool allocate_port_buffers(const BlockShape& shape, const PortIndexLists& lists,
                           uint32_t sequence_type, RunBuffers& buffers);

// Fills every frame of each CV input buffer with its value. The plugins only
// read these buffers, so once before the first run is enough.
void fill_cv_inputs(uint32_t block_size, RunBuffers& buffers) noexcept;

// Empties an atom input sequence (after a run: plugins may scribble on it).
void reset_atom_input(AtomBuffer& buffer, uint32_t sequence_type) noexcept;

// Offers an atom output its whole capacity as an empty chunk (before a run).
void prepare_atom_output(AtomBuffer& buffer, uint32_t chunk_type) noexcept;

} // namespace tonbrix
