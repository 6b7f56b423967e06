// saturating_atoi against strtol, whose range is wider than int's.
#include "base/int_text.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace tonbrix;


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int value = saturating_atoi(text.c_str());
    errno = 0;
    const long long wide = std::strtoll(text.c_str(), nullptr, 10);
    const long long expected = wide < INT_MIN ? INT_MIN : wide > INT_MAX ? INT_MAX : wide;
    if (value != expected) {
        __builtin_trap();
    }
    return 0;
}
