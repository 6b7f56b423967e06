#include "cli/run.h"

#include "base/buffers.h"
#include "lv2/catalog.h"
#include "lv2/lv2_path.h"
#include "cli/help.h"
#include "cli/option_tables.h"
#include "cli/option_values.h"
#include "cli/processing_run.h"
#include "lv2/instances.h"
#include "lv2/parameters.h"
#include "lv2/uri_nodes.h"
#include "lv2/lilv_owners.h"
#include "lv2/presets.h"
#include "lv2/urid_table.h"

#include <cstdio>

namespace {

// Everything after the plugin lookup of a list-presets or processing run.
int run_with_plugin(LilvWorld* world, const LilvPlugin* plugin, const RunOptions& options,
                    bool list_presets, bool raw)
{
    UriNodes nodes;
    if (!make_uri_nodes(world, nodes)) {
        std::fputs(insufficient_memory_message, stderr);
        return 1;
    }
    if (!list_presets && options.blocksize < 1) {
        std::fputs("Error: block size must be at least 1 frame.\n", stderr);
        return 1;
    }
    InstanceStates states;
    const PresetScan scan = scan_presets(world, plugin, nodes, list_presets,
                                         options.has_preset ? &options.preset : nullptr,
                                         states.preset);
    if (scan == PresetScan::listed) {
        return 0;
    }
    if (scan == PresetScan::not_found) {
        std::fprintf(stderr, "Preset '%s' was not found.\n", options.preset.c_str());
        return 1;
    }
    if (!block_length_supported(world, plugin, options.blocksize) ||
        !plan_parameters(world, plugin, options.set_values, states.parameters)) {
        return 1;
    }
    states.default_state = load_default_state(world, plugin);
    return run_processing(options, raw, plugin, nodes, states);
}

// Checks the values of the options that take numbers in text; prints the
// message and returns false for the first one that cannot be read.
bool check_option_values(RunOptions& options)
{
    if (options.has_tail && !parse_tail_seconds(options.tail, options.tail_seconds)) {
        std::fprintf(stderr,
                     "Error: invalid --tail value '%s': expected a number of seconds, 0 or "
                     "more.\n",
                     options.tail.c_str());
        return false;
    }
    if (options.has_jobs && !parse_jobs(options.jobs, options.job_count)) {
        std::fprintf(stderr,
                     "Error: invalid --jobs value '%s': expected a whole number, 1 or more.\n",
                     options.jobs.c_str());
        return false;
    }
    if (options.has_output_format) {
        std::string error;
        if (!parse_output_format(options.output_format, options.output_format_request, error)) {
            std::fputs(error.c_str(), stderr);
            return false;
        }
    }
    return true;
}

} // namespace

int tonbrix_main(int argc, char** argv)
{
    // Help and version need no plugins, and win over every mode.
    switch (find_info_request(argc, argv)) {
    case InfoRequest::help:
        print_help(stdout);
        return 0;
    case InfoRequest::version:
        print_version(stdout);
        return 0;
    case InfoRequest::none:
        break;
    }

    const UridTableRelease urid_table_release;

    ListTable list;
    if (!build_list_table(list)) {
        std::fputs(insufficient_memory_message, stdout);
        return 1;
    }

    make_lv2_path_absolute();
    const WorldPtr world(lilv_world_new());
    if (!world) {
        std::fputs("Error: failed to instantiate Lilv World\n", stdout);
        return 1;
    }
    lilv_world_load_all(world.get());
    const LilvPlugins* plugins = lilv_world_get_all_plugins(world.get());

    if (arg_parse(argc, argv, list.owner.data()) == 0) {
        list_plugins(plugins);
        return 1;
    }

    PluginTables plugin_tables;
    if (!build_nameports_table(plugin_tables)) {
        std::fputs(insufficient_memory_message, stderr);
        return 1;
    }
    if (arg_parse(argc, argv, plugin_tables.nameports_owner.data()) == 0) {
        list_ports(world.get(), plugins, plugin_tables.plugin->sval[0]);
        return 1;
    }
    if (!build_list_presets_table(plugin_tables)) {
        std::fputs(insufficient_memory_message, stderr);
        return 1;
    }
    const int list_presets_errors = arg_parse(argc, argv, plugin_tables.list_presets_table.data());

    ProcessingTable processing;
    if (!build_processing_table(processing)) {
        std::fputs(insufficient_memory_message, stderr);
        return 1;
    }
    const int processing_errors = parse_processing_table(argc, argv, processing);
    if (list_presets_errors != 0 && processing_errors != 0) {
        print_usage(list, plugin_tables, processing);
        return 1;
    }
    const bool list_presets = list_presets_errors == 0;

    RunOptions options = read_run_options(processing);
    if (!list_presets && !check_option_values(options)) {
        return 1;
    }
    const RawFloat raw = raw_float_rule(options.rate, options.channels);
    if (raw == RawFloat::rejected) {
        std::fputs("--rate/-r and --channels/-n must both be specified or not at all", stderr);
        return 1;
    }
    const LilvPlugin* plugin = find_plugin(options.plugin.c_str(), plugins, world.get());
    if (plugin == nullptr) {
        std::fprintf(stderr, "No such plugin %s\n", options.plugin.c_str());
        return 1;
    }
    return run_with_plugin(world.get(), plugin, options, list_presets, raw == RawFloat::on);
}
