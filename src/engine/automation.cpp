#include "engine/automation.h"

#include <algorithm>
#include <charconv>
#include <cfloat>
#include <cmath>

namespace tonbrix {

namespace {

enum class NumberRead { ok, not_a_number, out_of_range };

// Reads a decimal number ("-1.5", "+2", ".5", "3e-2"); hex, "inf", "nan" and
// blanks are not numbers.
NumberRead read_number(std::string_view text, double& value)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    const std::size_t mantissa = i;
    bool digits = false;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!digits) {
        return NumberRead::not_a_number;
    }
    if (i < text.size()) {
        if (text[i] != 'e' && text[i] != 'E') {
            return NumberRead::not_a_number;
        }
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            ++j;
        }
        if (j == text.size()) {
            return NumberRead::not_a_number;
        }
        for (; j < text.size(); ++j) {
            if (text[j] < '0' || text[j] > '9') {
                return NumberRead::not_a_number;
            }
        }
    }
    // from_chars takes no '+', and reads the sign itself only as '-'.
    const char* first = text.data() + (text[0] == '+' ? mantissa : 0);
    const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range) {
        return NumberRead::out_of_range;
    }
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return NumberRead::not_a_number;
    }
    return NumberRead::ok;
}

std::string quoted(std::string_view text)
{
    std::string out(1, '\'');
    out += text;
    out += '\'';
    return out;
}

// Reads the point `item`, the `number`th (from 1); returns "" or what is wrong.
std::string read_point(std::string_view item, std::size_t number, AutomationPoint& point)
{
    const std::string which = "point " + std::to_string(number);
    if (item.empty()) {
        return which + " is empty";
    }
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) {
        return which + " " + quoted(item) + " is not TIME=VALUE";
    }
    const std::string_view time = item.substr(0, equals);
    const std::string_view value = item.substr(equals + 1);
    switch (read_number(time, point.seconds)) {
    case NumberRead::ok:
        break;
    case NumberRead::not_a_number:
        return "the time " + quoted(time) + " of " + which + " is not a number of seconds";
    case NumberRead::out_of_range:
        return "the time " + quoted(time) + " of " + which + " is out of range";
    }
    if (point.seconds < 0.0) {
        return "the time " + quoted(time) + " of " + which + " is before the start (0)";
    }
    const NumberRead read = read_number(value, point.value);
    if (read == NumberRead::not_a_number) {
        return "the value " + quoted(value) + " of " + which + " is not a number";
    }
    if (read == NumberRead::out_of_range || std::fabs(point.value) > FLT_MAX) {
        return "the value " + quoted(value) + " of " + which + " is out of range";
    }
    return "";
}

} // namespace

Result<Automation> parse_automation(std::string_view text)
{
    const auto fail = [&](const std::string& what) {
        return Error{"Error: invalid --automate value " + quoted(text) + ": " + what + "\n"};
    };
    Automation automation;
    automation.text = std::string(text);
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        return fail("expected SYMBOL:TIME=VALUE[,TIME=VALUE...]");
    }
    if (colon == 0) {
        return fail("no port symbol before the colon");
    }
    automation.symbol = std::string(text.substr(0, colon));
    const std::string_view points = text.substr(colon + 1);
    if (points.empty()) {
        return fail("no points after the colon; give at least one TIME=VALUE");
    }
    std::size_t start = 0;
    std::size_t number = 1;
    std::string_view previous_time;
    for (;; ++number) {
        const std::size_t comma = std::min(points.find(',', start), points.size());
        const std::string_view item = points.substr(start, comma - start);
        AutomationPoint point;
        if (std::string error = read_point(item, number, point); !error.empty()) {
            return fail(error);
        }
        const std::string_view time = item.substr(0, item.find('='));
        if (!automation.points.empty() && point.seconds <= automation.points.back().seconds) {
            return fail("the time " + quoted(time) + " of point " + std::to_string(number) +
                        " does not come after the time " + quoted(previous_time) +
                        " of point " + std::to_string(number - 1) + "; times must increase");
        }
        automation.points.push_back(point);
        previous_time = time;
        if (comma == points.size()) {
            break;
        }
        start = comma + 1;
    }
    return automation;
}

double automation_value(std::span<const AutomationPoint> points, double seconds)
{
    const auto after = std::upper_bound(
        points.begin(), points.end(), seconds,
        [](double t, const AutomationPoint& point) { return t < point.seconds; });
    if (after == points.begin()) {
        return points.front().value;
    }
    if (after == points.end()) {
        return points.back().value;
    }
    const AutomationPoint& a = *(after - 1);
    const AutomationPoint& b = *after;
    return std::lerp(a.value, b.value, (seconds - a.seconds) / (b.seconds - a.seconds));
}

} // namespace tonbrix
