#pragma once

#include "cli/event_options.h"
#include "cli/option_tables.h"
#include "lv2/instances.h"

#include <tonbrix/world.h>

namespace tonbrix::cli {

// Runs the input file (or silence) through the plugin into the output file
// (or nowhere), with the plan's events. Returns the
// exit status; every error has been printed.
int run_processing(const RunOptions& options, bool raw, World& world, const LilvPlugin* plugin,
                   InstanceStates& states, const EventPlan& plan);

} // namespace tonbrix::cli
