// The --tail and --jobs values; the first byte chooses the parser.
#include "cli/option_values.h"

#include <cmath>
#include <cstdint>
#include <string_view>

using namespace tonbrix;
using namespace tonbrix::cli;

namespace {

bool all_digits(std::string_view text)
{
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 1) {
        int jobs = -7;
        const bool ok = parse_jobs(text, jobs);
        if (ok && (jobs < 1 || jobs > 1024 || !all_digits(text))) {
            __builtin_trap();
        }
        if (!ok && jobs != -7) {
            __builtin_trap();
        }
        // Every whole number of 1 to 18 digits, 1 or more, is taken.
        if (all_digits(text) && text.size() <= 18 && text.find_first_not_of('0') != text.npos &&
            !ok) {
            __builtin_trap();
        }
    } else {
        double seconds = -7.0;
        const bool ok = parse_tail_seconds(text, seconds);
        if (ok && (!std::isfinite(seconds) || seconds < 0.0 ||
                   text.find_first_not_of("+0123456789.eE-") != text.npos)) {
            __builtin_trap();
        }
        if (!ok && seconds != -7.0) {
            __builtin_trap();
        }
    }
    return 0;
}
