#pragma once

#include "lv2/ports.h"
#include "lv2/run_buffers.h"
#include "lv2/parameters.h"

#include <tonbrix/error.h>

#include <lv2/urid/urid.h>

namespace tonbrix {

// Puts the --set values a plugin takes as patch:Set messages (the plan's
// message values) into the control atom input of every instance, where the
// first run finds them.
// An error when they do not fit.
Status queue_parameter_messages(const ParameterPlan& plan, const PortIndexLists& lists,
                                LV2_URID_Map* map, RunBuffers& buffers);

} // namespace tonbrix
