#pragma once

#include "cli/option_tables.h"
#include "lv2/uri_nodes.h"
#include "lv2/instances.h"
#include "lv2/lilv_owners.h"

// Runs the input file through the plugin into the output file. Returns the
// exit status; every error has been printed.
int run_processing(const RunOptions& options, bool raw, const LilvPlugin* plugin,
                   const UriNodes& nodes, InstanceStates& states);
