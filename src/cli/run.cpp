#include "cli/run.h"

#include "cli/batch_run.h"
#include "cli/chain_command_line.h"
#include "cli/help.h"
#include "cli/listings.h"
#include "cli/master_steps.h"
#include "cli/option_tables.h"
#include "cli/option_values.h"
#include "cli/positioned_events.h"
#include "cli/preset_saving.h"
#include "cli/run_console.h"

#include <tonbrix/batch.h>
#include <tonbrix/error.h>
#include <tonbrix/run.h>
#include <tonbrix/sound_file.h>

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
void warn_when_nothing_to_report(World& world, const std::vector<std::string>& uris,
                                 const RunOptions& options)
{
    if (options.report || options.has_report_every || options.json) {
        const std::string warning = empty_report_warning(world, uris);
        std::fputs(warning.c_str(), options.json || options.output == "-" ? stderr : stdout);
    }
}

// Everything after the plugin lookup of a list-presets or processing run.
int run_with_plugin(World& world, const std::string& uri, const RunOptions& options,
                    bool list_presets, bool raw)
{
    if (list_presets) {
        const Result<std::vector<PresetDescription>> presets = world.presets(uri);
        if (!presets) {
            std::fputs(presets.error().message.c_str(), stderr);
            return 1;
        }
        return print_presets(uri, presets.value(), options.json);
    }
    if (!check_block_size(options)) {
        return 1;
    }
    warn_when_nothing_to_report(world, {uri}, options);
    RunSettings settings = run_settings(options, {{options, uri}}, raw);
    return run_and_print(world, options, settings);
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
        Result<OutputFormatRequest> request = parse_output_format(options.output_format);
        if (!request) {
            std::fputs(request.error().message.c_str(), stderr);
            return false;
        }
        options.output_format_request = std::move(request.value());
    }
    for (const std::string& text : options.automate) {
        Result<Automation> automation = parse_automation(text);
        if (!automation) {
            std::fputs(automation.error().message.c_str(), stderr);
            return false;
        }
        options.automations.push_back(std::move(automation.value()));
    }
    if (Status steps = read_master_steps(options); !steps) {
        std::fputs(steps.error().message.c_str(), stderr);
        return false;
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
    std::vector<PluginOptions> plugins(count);
    for (std::size_t k = 0; k < count; ++k) {
        MissingFiles same;
        if (!parse_chain_words(segment_words(argv[0], chain, k), position_prefix(k + 1, count),
                               plugins[k].options, &same)) {
            return 1;
        }
        run.run_saves_preset = run.run_saves_preset || plugins[k].options.has_save_preset;
    }
    for (PluginOptions& setup : plugins) {
        setup.options.run_saves_preset = run.run_saves_preset;
    }
    if (missing.only) {
        const std::optional<std::string> first =
            world.find_plugin(plugins.front().options.plugin);
        const std::optional<std::string> last = world.find_plugin(plugins.back().options.plugin);
        // A run that saves a preset needs neither: its audio inputs get silence.
        const bool first_fits =
            first && (run.run_saves_preset ||
                      files_may_be_left_out(world, *first, plugins.front().options.has_midi_out,
                                            !missing.input, true));
        if (first_fits && last && !run.run_saves_preset &&
            !files_may_be_left_out(world, *last, plugins.back().options.has_midi_out, true,
                                   !missing.output)) {
            std::fputs(with_prefix(position_prefix(count, count),
                                   missing_output_message(world, *last, true))
                           .c_str(),
                       stderr);
            return 1;
        }
        if (!first_fits || !last) {
            RunOptions unused;
            static_cast<void>(parse_chain_words(std::move(run_words), {}, unused));
            return 1;
        }
    }
    if (!check_option_values(run)) {
        return 1;
    }
    if (run.has_batch || is_folder(run.input)) {
        std::fputs("Error: folders and --batch job lists run one plugin; a chain of plugins "
                   "runs one file at a time.\n",
                   stderr);
        return 1;
    }
    if (run.skip_existing) {
        std::fputs(skip_existing_refused, stderr);
        return 1;
    }
    for (PluginOptions& setup : plugins) {
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
        const std::optional<std::string> uri = world.find_plugin(plugins[k].options.plugin);
        plugins[k].uri = uri.value_or(std::string());
        if (!uri) {
            std::fprintf(stderr, "%sNo such plugin %s\n", position_prefix(k + 1, count).c_str(),
                         plugins[k].options.plugin.c_str());
            return 1;
        }
    }
    if (!check_block_size(run)) {
        return 1;
    }
    std::vector<std::string> chained;
    for (const PluginOptions& setup : plugins) {
        chained.push_back(setup.uri);
    }
    warn_when_nothing_to_report(world, chained, run);
    RunSettings settings = run_settings(run, plugins, raw == RawFloat::on);
    return run_and_print(world, run, settings);
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
        const std::optional<std::string> plugin = world.find_plugin(options.plugin);
        if (!plugin || !(options.run_saves_preset ||
                         files_may_be_left_out(world, *plugin, options.has_midi_out,
                                               !missing.input, !missing.output))) {
            // An output that only the plugin's audio outputs need is named.
            const std::string message =
                plugin && missing.output
                    ? missing_output_message(world, *plugin, !missing.input)
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
    const std::optional<std::string> plugin = world.find_plugin(options.plugin);
    if (!plugin) {
        std::fprintf(stderr, "No such plugin %s\n", options.plugin.c_str());
        return 1;
    }
    if (!list_presets && (options.has_batch || is_folder(options.input))) {
        if (options.has_save_preset) {
            std::fputs("Error: --save-preset saves the state of one run; folders and --batch "
                       "job lists run many files.\n",
                       stderr);
            return 1;
        }
        return run_batch(world, *plugin, options, raw == RawFloat::on);
    }
    if (!list_presets && options.skip_existing) {
        std::fputs(skip_existing_refused, stderr);
        return 1;
    }
    return run_with_plugin(world, *plugin, options, list_presets, raw == RawFloat::on);
}

} // namespace tonbrix::cli
