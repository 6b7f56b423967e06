#pragma once

#include <tonbrix/error.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

// A control value at a time from the start, in seconds.
struct AutomationPoint {
    double seconds = 0.0;
    double value = 0.0;
};

// An --automate value: the port's symbol and its points, in increasing time.
struct Automation {
    std::string symbol;
    std::vector<AutomationPoint> points;
};

// Reads "SYMBOL:TIME=VALUE[,TIME=VALUE...]": a symbol, then at least one
// point; times are decimal seconds from 0 up, each later than the one before;
// values are decimal numbers within the range of a float. The symbol is not
// checked against any plugin. Refuses anything else with the error
// "Error: invalid --automate value 'TEXT': what is wrong\n".
Result<Automation> parse_automation(std::string_view text);

// The value at `seconds`: the first point's value before the first point,
// the last point's after the last, and on the straight line between the two
// points around it in between. `points` is not empty and in increasing time.
double automation_value(std::span<const AutomationPoint> points, double seconds);

} // namespace tonbrix
