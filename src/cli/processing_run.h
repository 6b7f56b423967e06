#pragma once

#include "cli/option_tables.h"
#include "cli/plugin_setup.h"
#include "lv2/library_hold.h"

#include <tonbrix/world.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace tonbrix::cli {

// The plugin sides a batch worker keeps from one file to the next: a job
// whose shape (rate, channel count) and instance settings (plugin, block
// size, routing, preset, --set values) are those of an earlier job takes
// its instances over, deactivated and activated again; a job of a new
// shape gets new ones, and the sides of the last few shapes are kept.
// Instances are kept only for a plugin whose activation is found to reset
// them. Empty until a one-plugin run finishes with it.
struct KeptInstances {
    struct Kept;
    std::vector<std::unique_ptr<Kept>> kept; // the most recently used last
    // Whether the plugin's activation was checked to reset its instances
    // (on the first chance to keep them), and what the check found.
    bool checked = false;
    bool resets = false;
    // The plugin's library, loaded once for all the jobs whatever the check
    // found.
    std::unique_ptr<LibraryHold> library;

    KeptInstances();
    KeptInstances(const KeptInstances&) = delete;
    KeptInstances& operator=(const KeptInstances&) = delete;
    ~KeptInstances();

    // Frees every instance kept.
    void release();
};

// Runs the input file (or silence) through the plugins, one after the
// other, into the output file (or nowhere), each with its plan's events;
// `options` holds the run's options, each plugin's setup its own. Notes go
// to `notes` when it is not null (else where the options send them).
// Returns the exit status; every error has been printed, those about one
// plugin of a chain after its position. With `kept`, a run of one plugin
// takes over the instances kept there when it can, and leaves its own
// there when it finishes. With `report` (a batch job's), the report goes
// there and the warnings to standard output, whatever --json says.
int run_processing(const RunOptions& options, bool raw, World& world,
                   std::vector<PluginSetup>& plugins, FILE* notes = nullptr,
                   KeptInstances* kept = nullptr, FILE* report = nullptr);

// True when the block size is one that a run takes; prints the message and
// returns false otherwise.
bool check_block_size(const RunOptions& options);

// Runs one file through a plugin of a loaded world: finds the preset, plans
// the --set values and the events and loads the plugin's default state for
// these options, then runs the file (`missing` tells which of -i and -o the
// run goes without). Notes go to `notes` when it is not null (else where
// the options send them). With `kept`, instances are kept from one such
// job to the next (see KeptInstances). The report goes to `report` when it
// is not null (see run_processing). Returns the exit status; every error
// has been printed.
int run_file_job(World& world, const LilvPlugin* plugin, const RunOptions& options, bool raw,
                 const MissingFiles& missing = {}, FILE* notes = nullptr,
                 KeptInstances* kept = nullptr, FILE* report = nullptr);

} // namespace tonbrix::cli
