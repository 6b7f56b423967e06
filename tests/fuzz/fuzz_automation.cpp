// An --automate value made of arbitrary text: parsed, checked for what the
// parser promises, and evaluated at and between its points.
#include "engine/automation.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace {

void check(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const tonbrix::Result<tonbrix::Automation> parsed = tonbrix::parse_automation(text);
    if (!parsed) {
        const std::string& message = parsed.error().message;
        check(message.rfind("Error: invalid --automate value '", 0) == 0 && message.back() == '\n');
        return 0;
    }
    const tonbrix::Automation& automation = parsed.value();
    check(!automation.symbol.empty() && automation.symbol.find(':') == std::string::npos);
    check(text.substr(0, automation.symbol.size() + 1) == automation.symbol + ":");
    check(!automation.points.empty());
    const std::string_view points = text.substr(automation.symbol.size() + 1);
    check(automation.points.size() == static_cast<std::size_t>(std::count(points.begin(), points.end(), ',')) + 1);
    for (std::size_t i = 0; i < automation.points.size(); ++i) {
        const tonbrix::AutomationPoint& point = automation.points[i];
        check(std::isfinite(point.seconds) && point.seconds >= 0.0);
        check(std::isfinite(point.value) && std::fabs(point.value) <= FLT_MAX);
        check(tonbrix::automation_value(automation.points, point.seconds) == point.value);
        if (i > 0) {
            const tonbrix::AutomationPoint& before = automation.points[i - 1];
            check(point.seconds > before.seconds);
            const double middle = before.seconds + (point.seconds - before.seconds) / 2.0;
            const double value = tonbrix::automation_value(automation.points, middle);
            check(value >= std::min(before.value, point.value) && value <= std::max(before.value, point.value));
        }
    }
    check(tonbrix::automation_value(automation.points, -1.0) == automation.points.front().value);
    check(tonbrix::automation_value(automation.points, INFINITY) == automation.points.back().value);
    return 0;
}
