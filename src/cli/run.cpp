#include "cli/run.h"

#include "base/buffers.h"
#include "cli/batch_run.h"
#include "cli/chain_command_line.h"
#include "cli/event_options.h"
#include "cli/help.h"
#include "cli/listings.h"
#include "cli/option_tables.h"
#include "cli/option_values.h"
#include "cli/plugin_setup.h"
#include "cli/positioned_events.h"
#include "cli/preset_saving.h"
#include "cli/processing_run.h"
#include "cli/report_warning.h"
#include "lv2/instances.h"
#include "lv2/parameters.h"
#include "lv2/presets.h"
#include "lv2/event_ports.h"
#include "lv2/world.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix::cli {

namespace {

constexpr const char* skip_existing_refused =
    "Error: --skip-existing is for folder and --batch runs, which write many files.\n";

// Prints the warning of a report asked of plugins that have nothing to
// report, where the run's warnings go.
void warn_when_nothing_to_report(World& world, const std::vector<const LilvPlugin*>& plugins,
                                 const RunOptions& options)
{
    if (options.report || options.has_report_every || options.json) {
        const std::string warning = empty_report_warning(plugins, world.impl().nodes);
        std::fputs(warning.c_str(), options.json || options.output == "-" ? stderr : stdout);
    }
}

// Everything after the plugin lookup of a list-presets or processing run.
int run_with_plugin(World& world, const LilvPlugin* plugin, const RunOptions& options,
                    bool list_presets, bool raw, const MissingFiles& missing)
{
    if (list_presets) {
        const Result<std::vector<PresetDescription>> presets =
            world.presets(lilv_node_as_uri(lilv_plugin_get_uri(plugin)));
        if (!presets) {
            std::fputs(presets.error().message.c_str(), stderr);
            return 1;
        }
        return print_presets(lilv_node_as_uri(lilv_plugin_get_uri(plugin)), presets.value(),
                             options.json);
    }
    if (!check_block_size(options)) {
        return 1;
    }
    warn_when_nothing_to_report(world, {plugin}, options);
    return run_file_job(world, plugin, options, raw, missing);
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
    if (options.has_report_every &&
        (!parse_tail_seconds(options.report_every, options.report_every_seconds) ||
         !(options.report_every_seconds > 0.0))) {
        std::fprintf(stderr,
                     "Error: invalid --report-every value '%s': expected a number of seconds "
                     "above 0.\n",
                     options.report_every.c_str());
        return false;
    }
    if (options.has_preset_dir && !options.run_saves_preset) {
        std::fputs("Error: --preset-dir says where --save-preset saves; give --save-preset "
                   "too.\n",
                   stderr);
        return false;
    }
    if (options.has_output_format) {
        std::string error;
        if (!parse_output_format(options.output_format, options.output_format_request, error)) {
            std::fputs(error.c_str(), stderr);
            return false;
        }
    }
    for (const std::string& text : options.automate) {
        Result<Automation> automation = parse_automation(text);
        if (!automation) {
            std::fputs(automation.error().message.c_str(), stderr);
            return false;
        }
        options.automations.push_back(std::move(automation.value()));
    }
    return true;
}

// Parses one argtable parse's words with a new processing table into
// `options`; on errors prints them (each line after `error_prefix`) and
// the usage, and returns false. With `missing`, errors that are only a
// missing -i or -o are noted there instead, for the plugins to settle.
bool parse_chain_words(std::vector<std::string> words, std::string_view error_prefix,
                       RunOptions& options, MissingFiles* missing = nullptr)
{
    ListTable list;
    PluginTables plugin_tables;
    ProcessingTable processing;
    if (!build_list_table(list) || !build_nameports_table(plugin_tables) ||
        !build_list_presets_table(plugin_tables) || !build_processing_table(processing)) {
        std::fputs(insufficient_memory_message, stderr);
        return false;
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    if (parse_processing_table(static_cast<int>(argv.size()), argv.data(), processing) != 0) {
        const MissingFiles found = missing_files(processing);
        if (missing == nullptr || !found.only) {
            print_usage(list, plugin_tables, processing, error_prefix);
            return false;
        }
        *missing = found;
    }
    options = read_run_options(processing);
    return true;
}

// Settles how MIDI goes along a chain: each plugin's MIDI output feeds
// the next plugin's MIDI input when both exist, and --midi, wherever it
// stands, plays into the first plugin that takes MIDI (it moves there from
// the part of a plugin without a MIDI input). A plugin that gives no audio
// cannot feed one that takes audio. The place of each plugin, or the
// message of a chain that cannot run: --midi in two parts, or in the part
// of a later plugin that takes MIDI.
Result<std::vector<ChainPlace>> place_chain_midi(World& world, std::vector<PluginSetup>& plugins)
{
    World::Impl& lv2 = world.impl();
    const std::size_t count = plugins.size();
    std::vector<EventPorts> ports;
    for (std::size_t k = 0; k < count; ++k) {
        Result<EventPorts> found = plugin_event_ports(lv2, plugins[k].plugin);
        if (!found) {
            return Error{with_prefix(position_prefix(k + 1, count), found.error().message)};
        }
        ports.push_back(found.value());
    }
    std::vector<ChainPlace> places(count);
    for (std::size_t k = 0; k + 1 < count; ++k) {
        places[k].feeds_next = true;
        if (ports[k].midi_output >= 0 && ports[k + 1].midi_input >= 0) {
            places[k].midi_to_chain = true;
            places[k + 1].midi_from_chain = true;
        }
    }
    for (std::size_t k = 1; k < count; ++k) {
        const uint32_t inputs = lilv_plugin_get_num_ports_of_class(
            plugins[k].plugin, lv2.nodes.audio_port.get(), lv2.nodes.input_port.get(), nullptr);
        const uint32_t outputs =
            lilv_plugin_get_num_ports_of_class(plugins[k - 1].plugin, lv2.nodes.audio_port.get(),
                                               lv2.nodes.output_port.get(), nullptr);
        if (inputs > 0 && outputs == 0 && places[k - 1].midi_to_chain) {
            return Error{position_prefix(k + 1, count) + "Error: the plugin " +
                         plugin_title(plugins[k].plugin) + " takes audio, and plugin " +
                         std::to_string(k) + " before it gives none (only MIDI).\n"};
        }
    }
    std::size_t first_taker = count;
    std::size_t given = count;
    for (std::size_t k = count; k-- > 0;) {
        if (ports[k].midi_input >= 0) {
            first_taker = k;
        }
        if (plugins[k].options.has_midi) {
            if (given != count) {
                return Error{"Error: --midi is given in parts " + std::to_string(k + 1) + " and " +
                             std::to_string(given + 1) +
                             " of the chain; a chain plays one MIDI file, into its first "
                             "plugin that takes MIDI.\n"};
            }
            given = k;
        }
    }
    if (given != count && first_taker != count && given != first_taker) {
        if (ports[given].midi_input >= 0) {
            return Error{position_prefix(given + 1, count) +
                         "Error: --midi plays into the first plugin of the chain that takes "
                         "MIDI, plugin " + std::to_string(first_taker + 1) + " " +
                         plugin_title(plugins[first_taker].plugin) + "; give it in that part.\n"};
        }
        RunOptions& from = plugins[given].options;
        RunOptions& to = plugins[first_taker].options;
        to.midi = std::move(from.midi);
        to.has_midi = true;
        from.midi.clear();
        from.has_midi = false;
    }
    if (given != count) {
        for (std::size_t k = 0; k < count; ++k) {
            places[k].midi_elsewhere = !plugins[k].options.has_midi;
        }
    }
    return places;
}

// A processing run through the plugins of a chain, joined by --then. The
// run's options are parsed once with the first plugin, then each part's
// with the run's; each plugin is looked up and prepared in chain order,
// and every message about one plugin starts with its position.
int run_chain(int argc, char** argv, World& world)
{
    if (names_empty_preset_label(argc, argv)) {
        std::fputs(empty_label_message, stderr);
        return 1;
    }
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    const Result<ChainCommandLine> split = split_chain(words);
    if (!split) {
        std::fputs(split.error().message.c_str(), stderr);
        return 1;
    }
    const ChainCommandLine& chain = split.value();
    const std::size_t count = chain.segments.size();
    RunOptions run;
    std::vector<std::string> run_words{argv[0]};
    run_words.insert(run_words.end(), chain.run_options.begin(), chain.run_options.end());
    run_words.push_back("--");
    run_words.push_back(chain.segments.front().plugin);
    // A missing -i or -o is settled once the first and last plugins are known.
    MissingFiles missing;
    if (!parse_chain_words(run_words, {}, run, &missing)) {
        return 1;
    }
    std::vector<PluginSetup> plugins(count);
    for (std::size_t k = 0; k < count; ++k) {
        MissingFiles same;
        if (!parse_chain_words(segment_words(argv[0], chain, k), position_prefix(k + 1, count),
                               plugins[k].options, &same)) {
            return 1;
        }
        run.run_saves_preset = run.run_saves_preset || plugins[k].options.has_save_preset;
    }
    for (PluginSetup& setup : plugins) {
        setup.options.run_saves_preset = run.run_saves_preset;
    }
    if (missing.only) {
        const UriNodes& nodes = world.impl().nodes;
        const LilvPlugin* first = find_plugin(plugins.front().options.plugin.c_str(), world);
        const LilvPlugin* last = find_plugin(plugins.back().options.plugin.c_str(), world);
        const bool first_fits =
            first != nullptr &&
            files_may_be_left_out(first, nodes, plugins.front().options, !missing.input, true);
        if (first_fits && last != nullptr &&
            !files_may_be_left_out(last, nodes, plugins.back().options, true, !missing.output)) {
            std::fputs(with_prefix(position_prefix(count, count),
                                   missing_output_message(last, world.impl(), true))
                           .c_str(),
                       stderr);
            return 1;
        }
        if (!first_fits || last == nullptr) {
            RunOptions unused;
            static_cast<void>(parse_chain_words(std::move(run_words), {}, unused));
            return 1;
        }
    }
    if (!check_option_values(run)) {
        return 1;
    }
    if (run.has_batch || names_folder(run.input)) {
        std::fputs("Error: folders and --batch job lists run one plugin; a chain of plugins "
                   "runs one file at a time.\n",
                   stderr);
        return 1;
    }
    if (run.skip_existing) {
        std::fputs(skip_existing_refused, stderr);
        return 1;
    }
    for (PluginSetup& setup : plugins) {
        if (!check_option_values(setup.options)) {
            return 1;
        }
    }
    // Without an input, -r alone is the rate of the run.
    const RawFloat raw = missing.input ? RawFloat::off : raw_float_rule(run.rate, run.channels);
    if (raw == RawFloat::rejected) {
        std::fputs("--rate/-r and --channels/-n must both be specified or not at all", stderr);
        return 1;
    }
    for (std::size_t k = 0; k < count; ++k) {
        plugins[k].plugin = find_plugin(plugins[k].options.plugin.c_str(), world);
        if (plugins[k].plugin == nullptr) {
            std::fprintf(stderr, "%sNo such plugin %s\n", position_prefix(k + 1, count).c_str(),
                         plugins[k].options.plugin.c_str());
            return 1;
        }
    }
    if (!check_block_size(run)) {
        return 1;
    }
    const Result<std::vector<ChainPlace>> places = place_chain_midi(world, plugins);
    if (!places) {
        std::fputs(places.error().message.c_str(), stderr);
        return 1;
    }
    std::vector<const LilvPlugin*> chained;
    for (const PluginSetup& setup : plugins) {
        chained.push_back(setup.plugin);
    }
    warn_when_nothing_to_report(world, chained, run);
    for (std::size_t k = 0; k < count; ++k) {
        PluginSetup& setup = plugins[k];
        if (Status prepared = prepare_plugin_states(world, setup.plugin, setup.options,
                                                    setup.states);
            !prepared || !(prepared = plan_preset_saving(world, setup))) {
            std::fputs(with_prefix(position_prefix(k + 1, count), prepared.error().message).c_str(),
                       stderr);
            return 1;
        }
        // Audio comes from the plugin before and goes on to the one after.
        Result<EventPlan> plan = plan_events(setup.options, world.impl(), setup.plugin,
                                             k > 0 || !missing.input,
                                             k + 1 < count || !missing.output, places.value()[k]);
        if (!plan) {
            std::fputs(with_prefix(position_prefix(k + 1, count), plan.error().message).c_str(),
                       stderr);
            return 1;
        }
        setup.plan = std::move(plan.value());
    }
    return run_processing(run, raw == RawFloat::on, world, plugins);
}

} // namespace

int tonbrix_main(int argc, char** argv)
{
    // A chain has its own checks, and refuses help and version.
    if (is_chain(std::vector<std::string_view>(argv + 1, argv + argc))) {
        Result<World> loaded = World::load();
        if (!loaded) {
            std::fputs(loaded.error().message.c_str(), stdout);
            return 1;
        }
        return run_chain(argc, argv, loaded.value());
    }

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
    if (names_empty_preset_label(argc, argv)) {
        std::fputs(empty_label_message, stderr);
        return 1;
    }

    ListTable list;
    if (!build_list_table(list)) {
        std::fputs(insufficient_memory_message, stdout);
        return 1;
    }

    Result<World> loaded = World::load();
    if (!loaded) {
        std::fputs(loaded.error().message.c_str(), stdout);
        return 1;
    }
    World& world = loaded.value();

    if (arg_parse(argc, argv, list.owner.data()) == 0) {
        return print_plugin_list(world, list.json->count > 0);
    }

    PluginTables plugin_tables;
    if (!build_nameports_table(plugin_tables)) {
        std::fputs(insufficient_memory_message, stderr);
        return 1;
    }
    if (arg_parse(argc, argv, plugin_tables.nameports_owner.data()) == 0) {
        return print_ports(world, plugin_tables.plugin->sval[0], plugin_tables.json->count > 0);
    }
    InfoTable info;
    if (!build_info_table(info)) {
        std::fputs(insufficient_memory_message, stderr);
        return 1;
    }
    if (arg_parse(argc, argv, info.owner.data()) == 0) {
        return print_plugin_info(world, info.info->sval[0], info.json->count > 0);
    }
    if (!build_list_presets_table(plugin_tables)) {
        std::fputs(insufficient_memory_message, stderr);
        return 1;
    }
    const int list_presets_errors = arg_parse(argc, argv, plugin_tables.list_presets_table.data());

    ProcessingTable processing;
    if (!build_processing_table(processing, !asks_for_batch(argc, argv))) {
        std::fputs(insufficient_memory_message, stderr);
        return 1;
    }
    const int processing_errors = parse_processing_table(argc, argv, processing);
    // A missing -i or -o is settled once the plugin is known.
    const MissingFiles missing =
        processing_errors != 0 ? missing_files(processing) : MissingFiles{};
    if (list_presets_errors != 0 && processing_errors != 0 && !missing.only) {
        print_usage(list, plugin_tables, processing);
        return 1;
    }
    const bool list_presets = list_presets_errors == 0;

    RunOptions options = read_run_options(processing);
    options.run_saves_preset = options.has_save_preset;
    if (list_presets) {
        options.json = plugin_tables.json->count > 0;
    }
    if (!list_presets && missing.only) {
        const LilvPlugin* plugin = find_plugin(options.plugin.c_str(), world);
        if (plugin == nullptr || !files_may_be_left_out(plugin, world.impl().nodes, options,
                                                        !missing.input, !missing.output)) {
            // An output that only the plugin's audio outputs need is named.
            const std::string message =
                plugin != nullptr && missing.output
                    ? missing_output_message(plugin, world.impl(), !missing.input)
                    : std::string();
            if (!message.empty()) {
                std::fputs(message.c_str(), stderr);
            } else {
                print_usage(list, plugin_tables, processing);
            }
            return 1;
        }
    }
    if (!list_presets && !check_option_values(options)) {
        return 1;
    }
    // Without an input, -r alone is the rate of the run.
    const RawFloat raw = missing.input ? RawFloat::off
                                       : raw_float_rule(options.rate, options.channels);
    if (raw == RawFloat::rejected) {
        std::fputs("--rate/-r and --channels/-n must both be specified or not at all", stderr);
        return 1;
    }
    const LilvPlugin* plugin = find_plugin(options.plugin.c_str(), world);
    if (plugin == nullptr) {
        std::fprintf(stderr, "No such plugin %s\n", options.plugin.c_str());
        return 1;
    }
    if (!list_presets && (options.has_batch || names_folder(options.input))) {
        if (options.has_save_preset) {
            std::fputs("Error: --save-preset saves the state of one run; folders and --batch "
                       "job lists run many files.\n",
                       stderr);
            return 1;
        }
        return run_batch(world, plugin, options, raw == RawFloat::on);
    }
    if (!list_presets && options.skip_existing) {
        std::fputs(skip_existing_refused, stderr);
        return 1;
    }
    return run_with_plugin(world, plugin, options, list_presets, raw == RawFloat::on, missing);
}

} // namespace tonbrix::cli
