#pragma once

#include "cli/option_tables.h"
#include "host/uri_nodes.h"
#include "host/instances.h"
#include "host/lilv_owners.h"

// Runs the input file through the plugin into the output file. Returns the
// exit status; every error has been printed.
int run_processing(const RunOptions& options, bool raw, const LilvPlugin* plugin,
                   const UriNodes& nodes, InstanceStates& states);
