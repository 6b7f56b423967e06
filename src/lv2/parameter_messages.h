#pragma once

#include "lv2/ports.h"
#include "lv2/run_buffers.h"
#include "lv2/parameters.h"

// Puts the --set values a plugin takes as patch:Set messages into the
// control atom input of every instance, where the first run finds them.
// Prints the message and returns false when they do not fit.
bool queue_parameter_messages(const ParameterPlan& plan, const PortIndexLists& lists,
                              RunBuffers& buffers);
