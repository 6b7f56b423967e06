#include "cli/chain_processing.h"

#include <cstdio>

namespace tonbrix::cli {

// Placeholder until the graph engine runs chains: every check is done.
int run_chain_processing(const RunOptions&, bool, World&, std::vector<PluginSetup>&)
{
    std::fputs("Error: chains of plugins cannot run yet.\n", stderr);
    return 1;
}

} // namespace tonbrix::cli
