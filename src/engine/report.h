#pragma once

#include "lv2/ports.h"
#include "engine/readings.h"
#include "lv2/run_buffers.h"

#include <lilv/lilv.h>

#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

// The symbols of the plugin's control outputs, in port order.
std::vector<std::string> control_output_symbols(const LilvPlugin* plugin,
                                                const PortIndexLists& lists);

// The --report text: a line "symbol: value" (value as %g) for each control
// output of each instance, instance by instance, in port order. With more
// than one instance each line starts with "N." (N from 1).
std::string report_text(const std::vector<std::string>& symbols,
                        const std::vector<InstanceBuffers>& instances);


} // namespace tonbrix
