// A sound file made of arbitrary bytes: opened from memory as the input is,
// read as floats, clamped, silenced and converted as the write stage does,
// and written back in its own format to memory, with libsndfile's clipping
// on for integer formats.
#include "io/clip_stage.h"
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

constexpr sf_count_t chunk_frames = 512;
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
    std::vector<float> samples(channels * chunk_frames);
    std::vector<int16_t> pcm16(samples.size());
    sf_count_t total = 0;
    sf_count_t n = 0;
    while (total < most_frames && (n = sf_readf_float(in, samples.data(), chunk_frames)) > 0) {
        if (n > chunk_frames) {
            __builtin_trap();
        }
        const auto count = static_cast<std::size_t>(n) * channels;
        repair_samples(samples.data(), count, true);
        for (std::size_t i = 0; i < count; ++i) {
            if (!(samples[i] >= -1.0f && samples[i] <= 1.0f)) {
                __builtin_trap();
            }
        }
        float_to_pcm16(samples.data(), count, pcm16.data());
        if (out != nullptr) {
            sf_writef_float(out, samples.data(), n);
        }
        total += n;
    }
    if (out != nullptr) {
        sf_close(out);
    }
    sf_close(in);
    return 0;
}
