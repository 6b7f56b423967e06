#pragma once

#include "cli/option_tables.h"

#include <tonbrix/world.h>

#include <string>

namespace tonbrix::cli {

// True when the command line asks for a job list (--batch).
bool asks_for_batch(int argc, char** argv);

// Runs many files through one loaded plugin: the files of the input folder
// into the output folder, or the jobs of the --batch list. The jobs run in
// worker processes forked after everything is loaded, one job at a time
// each; a worker that crashes costs its job and is replaced. Prints every
// job's messages with its input path and one closing count. Returns the
// exit status: 0 when every job wrote its output.
int run_batch(World& world, const std::string& plugin_uri, const RunOptions& options, bool raw);

} // namespace tonbrix::cli
