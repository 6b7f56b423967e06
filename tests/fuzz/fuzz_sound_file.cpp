// A sound file made of arbitrary bytes: opened from memory as the input is,
// read by the file source as interleaved frames or plain channels (the
// input's size chooses), clamped, silenced and converted as the sink does,
// and written back in its own format to memory, with libsndfile's clipping
// on for integer formats.
#include "io/clip_stage.h"
#include "io/file_source.h"
#include "io/interleave.h"
#include "io/memory_file.h"
#include "io/sound_files.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace tonbrix;

namespace {

constexpr std::size_t chunk_frames = 512;
constexpr sf_count_t most_frames = 1 << 15;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    SF_VIRTUAL_IO io = memory_file_io();
    MemoryFile input;
    input.bytes.assign(data, data + size);
    SF_INFO info{};
    SNDFILE* in = sf_open_virtual(&io, SFM_READ, &info, &input);
    if (in == nullptr) {
        return 0;
    }
    if (info.channels < 1 || info.channels > 1024) {
        __builtin_trap(); // libsndfile refuses these; the host relies on it
    }
    SF_INFO out_info = info;
    MemoryFile output;
    // Bounded, so that a header claiming a huge seek cannot exhaust memory.
    output.limit = std::size_t{1} << 26;
    SNDFILE* out = sf_open_virtual(&io, SFM_WRITE, &out_info, &output);
    if (out != nullptr && is_integer_format(info.format)) {
        sf_command(out, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    const bool interleaved = size % 2 == 0;
    FileSource source(in, static_cast<uint32_t>(channels));
    const ChunkOutput layout = interleaved ? ChunkOutput{nullptr, 1, channels}
                                           : ChunkOutput{nullptr, chunk_frames, 1};
    std::vector<float> samples(channels * chunk_frames);
    std::vector<float> frames(samples.size());
    std::vector<int16_t> pcm16(samples.size());
    std::vector<const float*> planes(channels);
    for (std::size_t c = 0; c < channels; ++c) {
        planes[c] = samples.data() + c * chunk_frames;
    }
    sf_count_t total = 0;
    bool more = true;
    while (total < most_frames && more) {
        ChunkOutput output = layout;
        output.data = samples.data();
        const SourceRead read = source.read(output, chunk_frames);
        more = read.frames == chunk_frames && !read.error;
        if (read.frames > chunk_frames) {
            __builtin_trap();
        }
        if (read.frames == 0) {
            break;
        }
        const std::size_t n = read.frames;
        const std::size_t count = n * channels;
        const float* written = samples.data();
        if (interleaved) {
            repair_samples(samples.data(), count, true);
            float_to_pcm16(samples.data(), count, pcm16.data());
        } else {
            for (std::size_t c = 0; c < channels; ++c) {
                repair_samples(samples.data() + c * chunk_frames, n, true);
            }
            interleave_pcm16(planes.data(), static_cast<uint32_t>(channels), n, pcm16.data());
            interleave_channels(n, planes.data(), channels, frames.data());
            written = frames.data();
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (!(written[i] >= -1.0f && written[i] <= 1.0f)) {
                __builtin_trap();
            }
        }
        if (out != nullptr) {
            sf_writef_float(out, written, static_cast<sf_count_t>(n));
        }
        total += static_cast<sf_count_t>(n);
    }
    if (out != nullptr) {
        sf_close(out);
    }
    sf_close(in);
    return 0;
}
