#pragma once

#include "cli/option_tables.h"
#include "lv2/instances.h"

#include <tonbrix/world.h>

#include <cstdio>

namespace tonbrix::cli {

// Runs the input file through the plugin into the output file. Returns the
// exit status; every error has been printed.
int run_processing(const RunOptions& options, bool raw, World& world, const LilvPlugin* plugin,
                   InstanceStates& states, FILE* notes = nullptr);

// True when the block size is one that a run takes; prints the message and
// returns false otherwise.
bool check_block_size(const RunOptions& options);

// Runs one file through a plugin of a loaded world: finds the preset, plans
// the --set values and loads the plugin's default state for these options,
// then runs the file. Notes go to `notes` when it is not null (else where
// the options send them). Returns the exit status; every error has been
// printed.
int run_file_job(World& world, const LilvPlugin* plugin, const RunOptions& options, bool raw,
                 FILE* notes = nullptr);

} // namespace tonbrix::cli
