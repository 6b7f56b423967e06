#include "cli/option_values.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

namespace tonbrix::cli {

bool parse_tail_seconds(std::string_view text, double& seconds)
{
    // Plain decimal notation only: strtod would also take hex, "inf" and "nan".
    if (text.empty() || text.size() > 64) {
        return false;
    }
    bool digits = false;
    bool point = false;
    std::size_t i = 0;
    if (text[0] == '+') {
        i = 1;
    }
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else if ((c == 'e' || c == 'E') && digits) {
            break;
        } else {
            return false;
        }
    }
    if (!digits) {
        return false;
    }
    if (i < text.size()) {
        // An exponent: e, an optional sign, digits.
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            ++j;
        }
        if (j == text.size()) {
            return false;
        }
        for (; j < text.size(); ++j) {
            if (text[j] < '0' || text[j] > '9') {
                return false;
            }
        }
    }
    const std::string copy(text);
    errno = 0;
    const double value = std::strtod(copy.c_str(), nullptr);
    if (errno == ERANGE && value != 0.0) {
        return false;
    }
    if (!std::isfinite(value) || value < 0.0) {
        return false;
    }
    seconds = value;
    return true;
}

bool parse_jobs(std::string_view text, int& jobs)
{
    if (text.empty() || text.size() > 18) {
        return false;
    }
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value < 1) {
        return false;
    }
    // More threads than instances are never used; cap well below INT_MAX.
    jobs = value > 1024 ? 1024 : static_cast<int>(value);
    return true;
}

} // namespace tonbrix::cli
