#include "audio/block_loop.h"

#include "host/urid_table.h"

#include <lv2/core/lv2.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

bool allocate_port_buffers(const BlockShape& s, RunBuffers& buffers)
{
    std::size_t inputs = 0;
    std::size_t outputs = 0;
    return checked_product({s.instances, s.inputs, s.block_size}, inputs) &&
           checked_product({s.instances, s.outputs, s.block_size}, outputs) &&
           buffers.input_ports.allocate(inputs) && buffers.output_ports.allocate(outputs);
}

void connect_ports(const LilvPlugin* plugin, const UriNodes& nodes, const PortIndexLists& lists,
                   const std::vector<LilvInstance*>& instances, const BlockShape& s,
                   RunBuffers& buffers)
{
    buffers.input_sequence.atom.size = sizeof(LV2_Atom_Sequence_Body);
    buffers.input_sequence.atom.type = urid_map(nullptr, LV2_ATOM__Sequence);
    buffers.input_sequence.body.unit = 0;
    buffers.input_sequence.body.pad = 0;

    const uint32_t port_count = lilv_plugin_get_num_ports(plugin);
    for (std::size_t m = 0; m < instances.size(); ++m) {
        LilvInstance* instance = instances[m];
        for (std::size_t p = 0; p < lists.audio_inputs.size(); ++p) {
            lilv_instance_connect_port(instance, lists.audio_inputs[p],
                                       buffers.input_ports.data + (m * s.inputs + p) * s.block_size);
        }
        for (std::size_t q = 0; q < lists.audio_outputs.size(); ++q) {
            lilv_instance_connect_port(instance, lists.audio_outputs[q],
                                       buffers.output_ports.data +
                                           (m * s.outputs + q) * s.block_size);
        }
        for (std::size_t k = 0; k < lists.control_inputs.size(); ++k) {
            lilv_instance_connect_port(instance, lists.control_inputs[k],
                                       &buffers.control_inputs[k]);
        }
        for (std::size_t k = 0; k < lists.control_outputs.size(); ++k) {
            lilv_instance_connect_port(instance, lists.control_outputs[k],
                                       &buffers.control_outputs[k]);
        }
        for (uint32_t i = 0; i < port_count; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
            if (!lilv_port_is_a(plugin, port, nodes.atom_port.get())) {
                continue;
            }
            void* location = lilv_port_is_a(plugin, port, nodes.input_port.get())
                                 ? static_cast<void*>(&buffers.input_sequence)
                                 : static_cast<void*>(buffers.output_atom.data());
            lilv_instance_connect_port(instance, i, location);
        }
    }
}

void mix_inputs(const float* file_block, int64_t frames, uint32_t channels, uint32_t instances,
                uint32_t inputs, const uint8_t* matrix, uint32_t block_size, float* port_buffers)
{
    if (frames <= 0) {
        return;
    }
    const std::size_t n = static_cast<std::size_t>(frames);
    for (std::size_t m = 0; m < instances; ++m) {
        for (std::size_t p = 0; p < inputs; ++p) {
            const uint8_t* row = matrix + channels * (p + inputs * m);
            float* destination = port_buffers + (m * inputs + p) * block_size;
            uint32_t count = 0;
            uint32_t only = 0;
            for (uint32_t c = 0; c < channels; ++c) {
                if (row[c] == 1) {
                    ++count;
                    only = c;
                }
            }
            if (count == 0) {
                for (std::size_t f = 0; f < n; ++f) {
                    destination[f] = 0.0f;
                }
            } else if (count == 1) {
                // 0 + x, as in the general sum: -0.0 becomes +0.0.
                const float* source = file_block + only;
                for (std::size_t f = 0; f < n; ++f) {
                    destination[f] = 0.0f + source[f * channels];
                }
            } else {
                const float divisor = static_cast<float>(count);
                for (std::size_t f = 0; f < n; ++f) {
                    const float* frame = file_block + f * channels;
                    float sum = 0.0f;
                    for (uint32_t c = 0; c < channels; ++c) {
                        if (row[c] == 1) {
                            sum += frame[c];
                        }
                    }
                    destination[f] = sum / divisor;
                }
            }
        }
    }
}

void interleave_outputs(int64_t frames, uint32_t instances, uint32_t outputs, uint32_t block_size,
                        const float* port_buffers, float* out_block)
{
    if (frames <= 0) {
        return;
    }
    const std::size_t n = static_cast<std::size_t>(frames);
    const std::size_t width = std::size_t{instances} * outputs;
    if (width == 1) {
        std::memcpy(out_block, port_buffers, n * sizeof(float));
        return;
    }
    for (std::size_t channel = 0; channel < width; ++channel) {
        const float* source = port_buffers + channel * block_size;
        float* destination = out_block + channel;
        for (std::size_t f = 0; f < n; ++f) {
            destination[f * width] = source[f];
        }
    }
}

bool clamp_samples(float* samples, std::size_t count)
{
    const bool clamped = exceeds_full_scale(samples, count);
    if (clamped) {
        // min and max in this form keep NaN (it fails both comparisons).
        for (std::size_t i = 0; i < count; ++i) {
            const float v = samples[i];
            const float below = 1.0f < v ? 1.0f : v;
            samples[i] = below < -1.0f ? -1.0f : below;
        }
    }
    return clamped;
}

bool exceeds_full_scale(const float* samples, std::size_t count)
{
    // Without branches, so that it vectorizes; NaN fails both tests.
    int beyond = 0;
    for (std::size_t i = 0; i < count; ++i) {
        beyond |= static_cast<int>(samples[i] > 1.0f) | static_cast<int>(samples[i] < -1.0f);
    }
    return beyond != 0;
}

void float_to_pcm16(const float* samples, std::size_t count, int16_t* out)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    // The conversion rounds by the current rounding mode, to nearest, like
    // lrintf below; packing saturates what the clamp leaves.
    const __m128 scale = _mm_set1_ps(32768.0f);
    const __m128 highest = _mm_set1_ps(32767.0f);
    const __m128 lowest = _mm_set1_ps(-32768.0f);
    for (; i + 8 <= count; i += 8) {
        __m128 a = _mm_mul_ps(_mm_loadu_ps(samples + i), scale);
        __m128 b = _mm_mul_ps(_mm_loadu_ps(samples + i + 4), scale);
        a = _mm_and_ps(a, _mm_cmpord_ps(a, a)); // NaN becomes 0
        b = _mm_and_ps(b, _mm_cmpord_ps(b, b));
        a = _mm_max_ps(_mm_min_ps(a, highest), lowest);
        b = _mm_max_ps(_mm_min_ps(b, highest), lowest);
        const __m128i packed = _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
    }
#endif
    for (; i < count; ++i) {
        const float scaled = samples[i] * 32768.0f;
        if (std::isnan(scaled)) {
            out[i] = 0;
        } else if (scaled >= 32767.0f) {
            out[i] = 32767;
        } else if (scaled <= -32768.0f) {
            out[i] = -32768;
        } else {
            out[i] = static_cast<int16_t>(std::lrintf(scaled));
        }
    }
}

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
    auto* atom_header = reinterpret_cast<LV2_Atom*>(buffers.output_atom.data());
    bool warned = false;

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
            const std::size_t frames = std::min<std::size_t>(s.block_size, frames_read - offset);
            mix_inputs(interleaved_input.data + offset * s.channels,
                       static_cast<int64_t>(frames), s.channels, s.instances, s.inputs,
                       loop.matrix, s.block_size, buffers.input_ports.data);
            if (chunk_type == 0) {
                chunk_type = urid_map(nullptr, LV2_ATOM__Chunk);
            }
            for (LilvInstance* instance : *loop.instances) {
                buffers.input_sequence.atom.size = sizeof(LV2_Atom_Sequence_Body);
                buffers.input_sequence.atom.type = sequence_type;
                atom_header->size = atom_body_capacity;
                atom_header->type = chunk_type;
                lilv_instance_run(instance, s.block_size);
            }
            float* block = interleaved_output.data + offset * width;
            interleave_outputs(static_cast<int64_t>(frames), s.instances, s.outputs,
                               s.block_size, buffers.output_ports.data, block);
            if (check_clipping) {
                // The 16-bit conversion saturates exactly as clamping would.
                const std::size_t count = frames * width;
                const bool clipped = loop.pcm16_output ? exceeds_full_scale(block, count)
                                                       : clamp_samples(block, count);
                if (clipped && !warned) {
                    std::fputs(clipping_warning, loop.notes);
                    warned = true;
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
