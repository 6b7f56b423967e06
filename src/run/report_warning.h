#pragma once

#include "lv2/uri_nodes.h"

#include <lilv/lilv.h>

#include <string>
#include <vector>

namespace tonbrix {

// The warning for a report asked of plugins that have no control outputs
// (meters that send their readings as atom messages): the report would
// hold no readings. Empty when one of the plugins has a control output.
std::string empty_report_warning(const std::vector<const LilvPlugin*>& plugins,
                                 const UriNodes& nodes);

} // namespace tonbrix
