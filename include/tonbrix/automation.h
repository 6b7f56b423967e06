#pragma once

#include <tonbrix/export.h>

#include <tonbrix/error.h>

#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

// A control value at a time from the start, in seconds.
struct AutomationPoint {
    double seconds = 0.0;
    double value = 0.0;
};

// A control or CV input that follows points over time: its symbol and its
// points, in increasing time; between two points the value moves on the
// straight line between them.
struct Automation {
    std::string symbol;
    std::vector<AutomationPoint> points;
    std::string text; // what it was read from, for messages; may be empty
};

// Reads "SYMBOL:TIME=VALUE[,TIME=VALUE...]" as --automate takes it: times
// are decimal seconds from 0 up, each later than the one before. The
// message names the text otherwise.
TONBRIX_API Result<Automation> parse_automation(std::string_view text);

} // namespace tonbrix
