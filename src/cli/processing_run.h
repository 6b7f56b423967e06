#pragma once

#include "cli/option_tables.h"
#include "cli/plugin_setup.h"

#include <tonbrix/world.h>

#include <vector>

namespace tonbrix::cli {

// Runs the input file (or silence) through the plugins, one after the
// other, into the output file (or nowhere), each with its plan's events;
// `options` holds the run's options, each plugin's setup its own. Returns
// the exit status; every error has been printed, those about one plugin of
// a chain after its position.
int run_processing(const RunOptions& options, bool raw, World& world,
                   std::vector<PluginSetup>& plugins);

} // namespace tonbrix::cli
