#pragma once

#include "cli/option_tables.h"
#include "cli/plugin_setup.h"

#include <tonbrix/world.h>

#include <cstdio>
#include <vector>

namespace tonbrix::cli {

// Runs the input file (or silence) through the plugins, one after the
// other, into the output file (or nowhere), each with its plan's events;
// `options` holds the run's options, each plugin's setup its own. Notes go
// to `notes` when it is not null (else where the options send them).
// Returns the exit status; every error has been printed, those about one
// plugin of a chain after its position.
int run_processing(const RunOptions& options, bool raw, World& world,
                   std::vector<PluginSetup>& plugins, FILE* notes = nullptr);

// True when the block size is one that a run takes; prints the message and
// returns false otherwise.
bool check_block_size(const RunOptions& options);

// Runs one file through a plugin of a loaded world: finds the preset, plans
// the --set values and the events and loads the plugin's default state for
// these options, then runs the file (`missing` tells which of -i and -o the
// run goes without). Notes go to `notes` when it is not null (else where
// the options send them). Returns the exit status; every error has been
// printed.
int run_file_job(World& world, const LilvPlugin* plugin, const RunOptions& options, bool raw,
                 const MissingFiles& missing = {}, FILE* notes = nullptr);

} // namespace tonbrix::cli
