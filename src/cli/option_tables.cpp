#include "cli/option_tables.h"

#include <cstdio>
#include <cstdlib>

namespace tonbrix::cli {

bool build_list_table(ListTable& t)
{
    t.list = arg_lit1("l", "list", "Lists all available LV2 plugins");
    t.json = arg_lit0(nullptr, "json", "Print JSON");
    t.end = arg_end(20);
    t.owner.table = {t.list, t.json, t.end};
    t.usage_view = {t.list, t.end};
    return t.owner.complete();
}

bool build_nameports_table(PluginTables& t)
{
    t.list_presets = arg_lit1("L", "list-presets", "Lists presets for given plugin LV2 plugins");
    t.list_presets_owner.table = {t.list_presets};
    t.nameports = arg_lit1("n", "nameports", "List the names of the input ports of a given plugin");
    t.plugin = arg_str1(nullptr, nullptr, "plugin", nullptr);
    t.json = arg_lit0(nullptr, "json", "Print JSON");
    t.end = arg_end(20);
    t.nameports_owner.table = {t.nameports, t.plugin, t.json, t.end};
    t.nameports_usage = {t.nameports, t.plugin, t.end};
    return t.list_presets != nullptr && t.nameports_owner.complete();
}

bool build_list_presets_table(PluginTables& t)
{
    t.list_presets_table = {t.list_presets, t.plugin, t.json, t.end};
    t.list_presets_usage = {t.list_presets, t.plugin, t.end};
    return arg_nullcheck(t.list_presets_table.data()) == 0;
}

bool build_info_table(InfoTable& t)
{
    t.info = arg_str1("I", "info", "PLUGIN", "Describe a plugin");
    t.json = arg_lit0(nullptr, "json", "Print JSON");
    t.end = arg_end(20);
    t.owner.table = {t.info, t.json, t.end};
    return t.owner.complete();
}

bool build_processing_table(ProcessingTable& t, bool files_required)
{
    t.input = arg_filen("i", nullptr, "input", files_required ? 1 : 0, 1, "Input sound file");
    t.output = arg_filen("o", nullptr, "output", files_required ? 1 : 0, 1, "Output sound file");
    t.rate = arg_int0("r", "rate", "<int>", "sample rate for raw float data");
    t.channels = arg_int0("n", "channels", "<int>", "channel count for raw float data");
    t.preset = arg_str0("P", "preset", "<name>",
                        "Plugin-preset to load (before applying custom ctrl-port values)");
    t.parameters = arg_rexn("p", "parameters", "(\\w+:\\w+,?)*", "<controlport>:<float>", 0, 200, 1,
                            "Pass a value to a plugin control port.");
    t.connect = arg_rexn("c", "connect", "(\\d+:(\\d+\\.)?\\w+,?)*", "<int>:<audioport>", 0, 200, 1,
                         "Connect between audio file channels and plugin input channels.");
    t.blocksize = arg_int0("b", "blocksize", "<int>",
                           "Chunk size in which the sound is processed. This is frames, not samples.");
    t.mono = arg_lit0("m", "mono", "Mix all of the channels together before processing.");
    t.ignore_clipping = arg_lit0(nullptr, "ignore-clipping",
                                 "Do not check for clipping.  This option is slightly faster");
    t.set = arg_strn("s", "set", "<parameter>=<value>", 0, 200,
                     "Set a plugin parameter (patch:writable).");
    t.compensate_latency = arg_lit0(nullptr, "compensate-latency",
                                    "Remove the plugin's latency from the output.");
    t.tail = arg_str0(nullptr, "tail", "<seconds>", "Run on silence after the input.");
    t.output_format = arg_str0(nullptr, "output-format", "<type[:encoding]>",
                               "Format of the output file.");
    t.report = arg_lit0(nullptr, "report", "Print the control outputs after the run.");
    t.report_every = arg_str0(nullptr, "report-every", "<seconds>",
                              "Print the control outputs every SECONDS of the run.");
    t.json = arg_lit0(nullptr, "json", "Print the report as JSON.");
    t.quiet = arg_lit0("q", "quiet", "Print no notes.");
    t.jobs = arg_str0("j", "jobs", "<int>", "Threads for the plugin instances.");
    t.midi = arg_str0(nullptr, "midi", "<file>", "MIDI file to play through the plugin.");
    t.midi_out = arg_str0(nullptr, "midi-out", "<file>", "Write the plugin's MIDI output here.");
    t.automate = arg_strn(nullptr, "automate", "<symbol>:<time>=<value>[,...]", 0, 200,
                          "Move a control input over time.");
    t.batch = arg_str0(nullptr, "batch", "<file>", "Run the jobs of a job list.");
    t.skip_existing = arg_lit0(nullptr, "skip-existing",
                               "Skip the jobs whose output is not older than their input.");
    t.save_preset = arg_str0(nullptr, "save-preset", "<label>",
                             "Save the plugin's state as a preset with this label.");
    t.preset_dir = arg_str0(nullptr, "preset-dir", "<folder>",
                            "Save presets in this folder instead of ~/.lv2.");
    t.dither = arg_str0(nullptr, "dither", "<kind>",
                        "Dither a conversion to fewer than 32 bits (triangular or shaped).");
    t.output_rate = arg_str0(nullptr, "output-rate", "<Hz>", "Convert the output to this rate.");
    t.plugin_rate = arg_str0(nullptr, "plugin-rate", "<Hz>", "Run the plugins at this rate.");
    t.loudness = arg_str0(nullptr, "loudness", "<LUFS>",
                          "Normalise the output to this integrated loudness.");
    t.true_peak = arg_str0(nullptr, "true-peak", "<dBTP>",
                           "The true-peak ceiling of --loudness (default -1.0).");
    t.measure_loudness = arg_lit0(nullptr, "measure-loudness", "Print the output's loudness.");
    t.plugin = arg_str1(nullptr, nullptr, "plugin", "The LV2 URI of the plugin");
    t.end = arg_end(20);
    t.owner.table = {t.input,  t.output,        t.rate,   t.channels,
                     t.preset, t.parameters,    t.connect, t.blocksize,
                     t.mono,   t.ignore_clipping, t.set,  t.compensate_latency,
                     t.tail,   t.output_format, t.report, t.report_every,
                     t.json,   t.quiet,         t.jobs,   t.midi,
                     t.midi_out, t.automate,    t.batch,  t.skip_existing,
                     t.save_preset, t.preset_dir, t.dither, t.output_rate, t.plugin_rate,
                     t.loudness, t.true_peak, t.measure_loudness, t.plugin, t.end};
    t.usage_view = {t.input, t.output,    t.rate, t.channels,        t.preset, t.parameters,
                    t.connect, t.blocksize, t.mono, t.ignore_clipping, t.plugin, t.end};
    if (!t.owner.complete()) {
        return false;
    }
    // Values that stand when the options are absent.
    t.blocksize->ival[0] = 512;
    t.rate->ival[0] = -1;
    t.channels->ival[0] = -1;
    // --dither alone takes the default kind.
    t.dither->hdr.flag |= ARG_HASOPTVALUE;
    t.dither->sval[0] = "";
    return true;
}

namespace {

std::string text_or_empty(const char* text)
{
    return text != nullptr ? std::string(text) : std::string();
}

std::vector<std::string> all_values(const char** values, int count)
{
    std::vector<std::string> texts;
    texts.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        texts.push_back(text_or_empty(values[i]));
    }
    return texts;
}

} // namespace

RunOptions read_run_options(const ProcessingTable& t)
{
    RunOptions options;
    options.input = text_or_empty(t.input->filename[0]);
    options.output = text_or_empty(t.output->filename[0]);
    options.rate = t.rate->ival[0];
    options.channels = t.channels->ival[0];
    options.has_preset = t.preset->count > 0;
    if (options.has_preset) {
        options.preset = text_or_empty(t.preset->sval[0]);
    }
    options.parameters = all_values(t.parameters->sval, t.parameters->count);
    options.connect = all_values(t.connect->sval, t.connect->count);
    options.blocksize = t.blocksize->ival[0];
    options.mono = t.mono->count > 0;
    options.ignore_clipping = t.ignore_clipping->count > 0;
    options.set_values = all_values(t.set->sval, t.set->count);
    options.compensate_latency = t.compensate_latency->count > 0;
    options.has_tail = t.tail->count > 0;
    if (options.has_tail) {
        options.tail = text_or_empty(t.tail->sval[0]);
    }
    options.has_output_format = t.output_format->count > 0;
    if (options.has_output_format) {
        options.output_format = text_or_empty(t.output_format->sval[0]);
    }
    options.report = t.report->count > 0;
    options.has_report_every = t.report_every->count > 0;
    if (options.has_report_every) {
        options.report_every = text_or_empty(t.report_every->sval[0]);
    }
    options.json = t.json->count > 0;
    options.quiet = t.quiet->count > 0;
    options.has_jobs = t.jobs->count > 0;
    if (options.has_jobs) {
        options.jobs = text_or_empty(t.jobs->sval[0]);
    }
    options.has_midi = t.midi->count > 0;
    if (options.has_midi) {
        options.midi = text_or_empty(t.midi->sval[0]);
    }
    options.has_midi_out = t.midi_out->count > 0;
    if (options.has_midi_out) {
        options.midi_out = text_or_empty(t.midi_out->sval[0]);
    }
    options.automate = all_values(t.automate->sval, t.automate->count);
    options.has_batch = t.batch->count > 0;
    if (options.has_batch) {
        options.batch = text_or_empty(t.batch->sval[0]);
    }
    options.skip_existing = t.skip_existing->count > 0;
    options.has_save_preset = t.save_preset->count > 0;
    if (options.has_save_preset) {
        options.save_preset = text_or_empty(t.save_preset->sval[0]);
    }
    options.has_preset_dir = t.preset_dir->count > 0;
    if (options.has_preset_dir) {
        options.preset_dir = text_or_empty(t.preset_dir->sval[0]);
    }
    const auto text_of = [](const arg_str* entry, bool& given, std::string& text) {
        given = entry->count > 0;
        if (given) {
            text = text_or_empty(entry->sval[0]);
        }
    };
    text_of(t.dither, options.has_dither, options.dither);
    text_of(t.output_rate, options.has_output_rate, options.output_rate);
    text_of(t.plugin_rate, options.has_plugin_rate, options.plugin_rate);
    text_of(t.loudness, options.has_loudness, options.loudness);
    text_of(t.true_peak, options.has_true_peak, options.true_peak);
    options.measure_loudness = t.measure_loudness->count > 0;
    options.plugin = text_or_empty(t.plugin->sval[0]);
    return options;
}

MissingFiles missing_files(const ProcessingTable& t)
{
    MissingFiles missing;
    missing.input = t.input->count == 0;
    missing.output = t.output->count == 0;
    missing.only = t.end->count > 0;
    for (int e = 0; e < t.end->count; ++e) {
        const void* parent = t.end->parent[e];
        if (!((parent == t.input && missing.input) || (parent == t.output && missing.output))) {
            missing.only = false;
        }
    }
    return missing;
}

namespace {

// argtable's error lines, each after the prefix.
void print_errors(struct arg_end* end, std::string_view prefix)
{
    if (prefix.empty()) {
        arg_print_errors(stderr, end, "tonbrix");
        return;
    }
    char* text = nullptr;
    std::size_t size = 0;
    FILE* memory = ::open_memstream(&text, &size);
    if (memory == nullptr) {
        arg_print_errors(stderr, end, "tonbrix");
        return;
    }
    arg_print_errors(memory, end, "tonbrix");
    std::fclose(memory);
    std::string_view rest(text, size);
    while (!rest.empty()) {
        const std::size_t line_end = rest.find('\n');
        const std::string_view line = rest.substr(0, line_end == rest.npos ? rest.npos : line_end + 1);
        std::fwrite(prefix.data(), 1, prefix.size(), stderr);
        std::fwrite(line.data(), 1, line.size(), stderr);
        rest.remove_prefix(line.size());
    }
    std::free(text);
}

// True when a word that argtable found in excess of the one plugin names a
// plugin too (a URI or a list number): two plugins without --then between.
bool names_excess_plugin(const ProcessingTable& table)
{
    const struct arg_end* end = table.end;
    for (int e = 0; e < end->count; ++e) {
        const std::string_view word = end->argval[e] != nullptr ? end->argval[e] : "";
        const bool uri = word.find(':') != std::string_view::npos;
        const bool number = !word.empty() && word.find_first_not_of("0123456789") == word.npos;
        if (end->parent[e] == table.plugin && (uri || number)) {
            return true;
        }
    }
    return false;
}

} // namespace

void print_usage(ListTable& list, PluginTables& plugin_tables, ProcessingTable& processing,
                 std::string_view error_prefix)
{
    print_errors(processing.end, error_prefix);
    if (names_excess_plugin(processing)) {
        std::fputs("tonbrix: a run names one plugin; plugins are chained with --then "
                   "(PLUGIN --then PLUGIN).\n",
                   stderr);
    }
    std::fputs("usage:\ntonbrix\t", stderr);
    arg_print_syntaxv(stderr, list.usage_view.data(), "\n\t");
    arg_print_syntaxv(stderr, plugin_tables.list_presets_usage.data(), "\n\t");
    arg_print_syntaxv(stderr, plugin_tables.nameports_usage.data(), "\n\t");
    arg_print_syntaxv(stderr, processing.usage_view.data(), "\n");
    arg_print_glossary_gnu(stderr, list.usage_view.data());
    arg_print_glossary_gnu(stderr, plugin_tables.nameports_usage.data());
    arg_print_glossary_gnu(stderr, processing.usage_view.data());
}

RawFloat raw_float_rule(int rate, int channels)
{
    if ((rate < 0) != (channels < 0)) {
        return RawFloat::rejected;
    }
    return rate > 0 && channels > 0 ? RawFloat::on : RawFloat::off;
}

int parse_processing_table(int argc, char** argv, ProcessingTable& t)
{
    const int errors = arg_parse(argc, argv, t.owner.data());
    // argtable2 compiles the two patterns when a parse starts and frees them
    // in its final check, which it skips when an earlier stage failed. The
    // check function of a pattern entry frees the compiled pattern (and
    // freeing twice is harmless), so run it again to release it on every path.
    for (arg_rex* entry : {t.parameters, t.connect}) {
        entry->hdr.checkfn(entry->hdr.parent);
    }
    return errors;
}

} // namespace tonbrix::cli
