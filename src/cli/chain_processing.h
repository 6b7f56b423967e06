#pragma once

#include "cli/option_tables.h"
#include "cli/plugin_setup.h"

#include <tonbrix/world.h>

#include <vector>

namespace tonbrix::cli {

// Runs the input file through the plugins in order into the output file;
// `run` holds the options of the whole run. Returns the exit status; every
// error has been printed.
int run_chain_processing(const RunOptions& run, bool raw, World& world,
                         std::vector<PluginSetup>& plugins);

} // namespace tonbrix::cli
