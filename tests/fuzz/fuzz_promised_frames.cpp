// The promised length read from libsndfile's log of a header: any text,
// with any format, channel count and length, gives a number without a
// fault, and never a promise no larger than what was read.
#include "io/promised_frames.h"

#include <cstdint>
#include <cstring>
#include <string_view>

using namespace tonbrix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    SF_INFO info {};
    constexpr std::size_t head = sizeof info.format + sizeof info.channels + sizeof info.frames;
    if (size < head) {
        return 0;
    }
    std::memcpy(&info.format, data, sizeof info.format);
    std::memcpy(&info.channels, data + sizeof info.format, sizeof info.channels);
    std::memcpy(&info.frames, data + sizeof info.format + sizeof info.channels,
                sizeof info.frames);
    const std::string_view log(reinterpret_cast<const char*>(data + head), size - head);
    const uint64_t promised = logged_promised_frames(log, info);
    if (promised != 0 && info.frames >= 0 && promised <= static_cast<uint64_t>(info.frames)) {
        __builtin_trap();
    }
    return 0;
}
