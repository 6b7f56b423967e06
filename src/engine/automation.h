#pragma once

#include <tonbrix/automation.h>
#include <tonbrix/error.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

// The value at `seconds`: the first point's value before the first point,
// the last point's after the last, and on the straight line between the two
// points around it in between. `points` is not empty and in increasing time.
double automation_value(std::span<const AutomationPoint> points, double seconds);

} // namespace tonbrix
