#include "base/int_text.h"

#include <cctype>
#include <climits>

namespace tonbrix {

int saturating_atoi(const char* text) noexcept
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (std::isspace(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    // Accumulate as a negative number: its range holds INT_MIN.
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 - (*p - '0');
        if (value < INT_MIN) {
            return negative ? INT_MIN : INT_MAX;
        }
    }
    if (negative) {
        return static_cast<int>(value);
    }
    return value < -INT_MAX ? INT_MAX : static_cast<int>(-value);
}

} // namespace tonbrix
