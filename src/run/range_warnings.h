#pragma once

#include "run/event_plan.h"
#include "lv2/instances.h"
#include "lv2/ports.h"

#include <lilv/lilv.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

// The warning for the values the user gave one control or CV input that lie
// outside its range (NaN bounds limit nothing), or "" when none does: "is V"
// for one value, "moves to V" for automation points (the lowest below the
// range and the highest above it), e.g. "WARNING: gain is 100, outside its
// range -90 to 24 (applied as given).\n".
std::string range_warning(std::string_view symbol, std::span<const float> values, bool automated,
                          float minimum, float maximum);

// The warnings, in port order and one per port, for what the step gives a
// plugin outside its ports' ranges (at the run's rate for lv2:sampleRate
// ports): the value of each control that is applied (the last for a port:
// the -p items after the controls by symbol; a job's parameters count as
// -p items), and the automation points.
std::string range_warnings(const PluginStep& step, const EventPlan& plan,
                           const LilvPlugin* plugin, const PortIndexLists& lists,
                           const PortRanges& ranges);

} // namespace tonbrix
