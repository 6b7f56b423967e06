#pragma once

#include "cli/option_tables.h"
#include "lv2/instances.h"

#include <tonbrix/world.h>

namespace tonbrix::cli {

// Runs the input file through the plugin into the output file. Returns the
// exit status; every error has been printed.
int run_processing(const RunOptions& options, bool raw, World& world, const LilvPlugin* plugin,
                   InstanceStates& states);

} // namespace tonbrix::cli
