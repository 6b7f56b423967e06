// A sound file made of arbitrary bytes: opened from memory as the input is,
// read as floats, clamped, silenced and converted as the write stage does,
// and written back in its own format to memory, with libsndfile's clipping
// on for integer formats.
#include "audio/clip_stage.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Memory {
    std::vector<unsigned char> bytes;
    sf_count_t position = 0;
};

sf_count_t memory_length(void* data)
{
    return static_cast<sf_count_t>(static_cast<Memory*>(data)->bytes.size());
}

sf_count_t memory_seek(sf_count_t offset, int whence, void* data)
{
    auto* m = static_cast<Memory*>(data);
    const sf_count_t base = whence == SEEK_SET   ? 0
                            : whence == SEEK_CUR ? m->position
                                                 : static_cast<sf_count_t>(m->bytes.size());
    const sf_count_t position = base + offset;
    if (position < 0) {
        return -1;
    }
    m->position = position;
    return position;
}

sf_count_t memory_read(void* out, sf_count_t count, void* data)
{
    auto* m = static_cast<Memory*>(data);
    const auto size = static_cast<sf_count_t>(m->bytes.size());
    if (count <= 0 || m->position >= size) {
        return 0;
    }
    const sf_count_t n = std::min(count, size - m->position);
    std::memcpy(out, m->bytes.data() + m->position, static_cast<std::size_t>(n));
    m->position += n;
    return n;
}

sf_count_t memory_write(const void* in, sf_count_t count, void* data)
{
    auto* m = static_cast<Memory*>(data);
    if (count <= 0) {
        return 0;
    }
    // Bounded, so that a header claiming a huge seek cannot exhaust memory.
    const sf_count_t end = m->position + count;
    if (end > (sf_count_t{1} << 26)) {
        return 0;
    }
    if (end > static_cast<sf_count_t>(m->bytes.size())) {
        m->bytes.resize(static_cast<std::size_t>(end));
    }
    std::memcpy(m->bytes.data() + m->position, in, static_cast<std::size_t>(count));
    m->position = end;
    return count;
}

sf_count_t memory_tell(void* data)
{
    return static_cast<Memory*>(data)->position;
}

bool is_integer_format(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
        return false;
    default:
        return true;
    }
}

constexpr sf_count_t chunk_frames = 512;
constexpr sf_count_t most_frames = 1 << 15;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    SF_VIRTUAL_IO io{memory_length, memory_seek, memory_read, memory_write, memory_tell};
    Memory input;
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
    Memory output;
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
