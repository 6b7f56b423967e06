#pragma once

#include "cli/option_tables.h"

#include <tonbrix/run.h>
#include <tonbrix/world.h>

#include <cstdio>
#include <string>
#include <vector>

namespace tonbrix::cli {

// The plugin of one part of the command line: its options (with the
// run's) and the URI its text names.
struct PluginOptions {
    RunOptions options;
    std::string uri;
};

// The library's description of a run of the command line: the run's
// options (`run`) and each plugin's part, in chain order. Without an input
// (`missing.input`) the run plays silence; without an output it writes
// none.
RunSettings run_settings(const RunOptions& run, const std::vector<PluginOptions>& plugins,
                         bool raw);

// True when the block size is one that a run takes; prints the message and
// returns false otherwise.
bool check_block_size(const RunOptions& options);

// Runs the settings and prints what the run tells, where the program has
// always printed it: notes, warnings and the progress line as they come,
// the report of a finished run, then the errors, each about one plugin of
// a chain after its position. Notes go to `notes` when it is not null
// (else where the options send them); with `report` (a batch job's), the
// report goes there and the warnings to standard output, whatever --json
// says. Returns the exit status.
int run_and_print(World& world, const RunOptions& options, RunSettings& settings,
                  FILE* notes = nullptr, InstanceCache* cache = nullptr, FILE* report = nullptr);

} // namespace tonbrix::cli
