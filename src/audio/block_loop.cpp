#include "audio/block_loop.h"

#include "host/urid_table.h"

#include <algorithm>

namespace {

// Frames the file is read and written in, at least: small blocks are
// gathered into one read and one write, which the plugin still runs
// block by block.
constexpr uint32_t io_frames = 8192;

LoopResult run_loop(const BlockLoop& loop, bool check_clipping)
{
    const BlockShape& s = loop.shape;
    const std::size_t width = std::size_t{s.instances} * s.outputs;
    const std::size_t blocks_per_read = s.block_size < io_frames ? io_frames / s.block_size : 1;
    std::size_t chunk_frames = 0;
    std::size_t input_size = 0;
    std::size_t output_size = 0;
    FloatBuffer interleaved_input;
    FloatBuffer interleaved_output;
    ZeroBuffer<int16_t> pcm16_output;
    if (!checked_product({s.block_size, blocks_per_read}, chunk_frames) ||
        !checked_product({chunk_frames, s.channels}, input_size) ||
        !checked_product({chunk_frames, width}, output_size) ||
        !interleaved_input.allocate(input_size) || !interleaved_output.allocate(output_size) ||
        (loop.pcm16_output && !pcm16_output.allocate(output_size))) {
        std::fputs(insufficient_memory_message, stderr);
        return LoopResult::out_of_memory;
    }

    RunBuffers& buffers = *loop.buffers;
    const LV2_URID sequence_type = urid_map(nullptr, LV2_ATOM__Sequence);
    LV2_URID chunk_type = 0; // mapped before the first run
    bool warned = false;
    bool warned_invalid = false;

    for (;;) {
        const sf_count_t n = sf_readf_float(loop.input, interleaved_input.data,
                                            static_cast<sf_count_t>(chunk_frames));
        if (n <= 0) {
            const int error = sf_error(loop.input);
            if (error != 0) {
                std::fprintf(stderr, "Error reading input file: %s\n", sf_error_number(error));
                return LoopResult::read_failed;
            }
            return LoopResult::finished;
        }
        const auto frames_read = static_cast<std::size_t>(n);
        for (std::size_t offset = 0; offset < frames_read; offset += s.block_size) {
            if (loop.stop != nullptr && *loop.stop != 0) {
                return LoopResult::interrupted;
            }
            const std::size_t frames = std::min<std::size_t>(s.block_size, frames_read - offset);
            mix_inputs(interleaved_input.data + offset * s.channels,
                       static_cast<int64_t>(frames), s.channels, s.instances, s.inputs,
                       loop.matrix, s.block_size, buffers.input_ports.data);
            if (chunk_type == 0) {
                chunk_type = urid_map(nullptr, LV2_ATOM__Chunk);
            }
            for (std::size_t m = 0; m < loop.instances->size(); ++m) {
                InstanceBuffers& own = buffers.instances[m];
                for (AtomBuffer& atoms : own.atom_outputs) {
                    prepare_atom_output(atoms, chunk_type);
                }
                lilv_instance_run((*loop.instances)[m], s.block_size);
                for (AtomBuffer& atoms : own.atom_inputs) {
                    reset_atom_input(atoms, sequence_type);
                }
            }
            float* block = interleaved_output.data + offset * width;
            interleave_outputs(static_cast<int64_t>(frames), s.instances, s.outputs,
                               s.block_size, buffers.output_ports.data, block);
            if (check_clipping) {
                // The 16-bit conversion saturates exactly as clamping would.
                const unsigned flaws = repair_samples(block, frames * width, !loop.pcm16_output);
                if ((flaws & beyond_full_scale) != 0 && !warned) {
                    std::fputs(clipping_warning, loop.notes);
                    warned = true;
                }
                if ((flaws & not_a_number) != 0 && !warned_invalid) {
                    std::fputs(invalid_samples_warning, loop.notes);
                    warned_invalid = true;
                }
            }
        }
        sf_count_t written = 0;
        if (loop.pcm16_output) {
            float_to_pcm16(interleaved_output.data, frames_read * width, pcm16_output.data);
            written = sf_writef_short(loop.output, pcm16_output.data, n);
        } else {
            written = sf_writef_float(loop.output, interleaved_output.data, n);
        }
        if (written != n) {
            std::fprintf(stderr, "Error writing output file: %s\n", sf_strerror(loop.output));
            return LoopResult::write_failed;
        }
    }
}

} // namespace

LoopResult process_checked(const BlockLoop& loop)
{
    return run_loop(loop, true);
}

LoopResult process_unchecked(const BlockLoop& loop)
{
    return run_loop(loop, false);
}
