#pragma once

#include "cli/master_steps.h"

#include <tonbrix/automation.h>
#include <tonbrix/sound_file.h>

#include <argtable2.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix::cli {

// An argtable2 entry array that frees its entries when it goes.
template <std::size_t N>
struct ArgArray {
    std::array<void*, N> table{};

    ArgArray() = default;
    ArgArray(const ArgArray&) = delete;
    ArgArray& operator=(const ArgArray&) = delete;
    ~ArgArray() { arg_freetable(table.data(), N); }

    void** data() { return table.data(); }
    bool complete() { return arg_nullcheck(table.data()) == 0; }
};

struct ListTable {
    arg_lit* list = nullptr;
    arg_lit* json = nullptr;
    struct arg_end* end = nullptr;
    ArgArray<3> owner;
    // The entries the usage text shows: --json is left out.
    std::array<void*, 2> usage_view{};
};

// The nameports and list-presets tables share their plugin, json and end
// entries. The nameports array owns those; the list-presets literal is
// owned alone, and the list-presets array only borrows.
struct PluginTables {
    arg_lit* list_presets = nullptr;
    arg_lit* nameports = nullptr;
    arg_str* plugin = nullptr;
    arg_lit* json = nullptr;
    struct arg_end* end = nullptr;
    ArgArray<4> nameports_owner;
    ArgArray<1> list_presets_owner;
    std::array<void*, 4> list_presets_table{};
    // The entries the usage text shows: --json is left out.
    std::array<void*, 3> nameports_usage{};
    std::array<void*, 3> list_presets_usage{};
};

// --info PLUGIN [--json]; the usage text leaves it out.
struct InfoTable {
    arg_str* info = nullptr;
    arg_lit* json = nullptr;
    struct arg_end* end = nullptr;
    ArgArray<3> owner;
};

struct ProcessingTable {
    arg_file* input = nullptr;
    arg_file* output = nullptr;
    arg_int* rate = nullptr;
    arg_int* channels = nullptr;
    arg_str* preset = nullptr;
    arg_rex* parameters = nullptr;
    arg_rex* connect = nullptr;
    arg_int* blocksize = nullptr;
    arg_lit* mono = nullptr;
    arg_lit* ignore_clipping = nullptr;
    // Options beyond the first set; the usage text leaves them out.
    arg_str* set = nullptr;
    arg_lit* compensate_latency = nullptr;
    arg_str* tail = nullptr;
    arg_str* output_format = nullptr;
    arg_lit* report = nullptr;
    arg_str* report_every = nullptr;
    arg_lit* json = nullptr;
    arg_lit* quiet = nullptr;
    arg_str* jobs = nullptr;
    // Plugin options of events over time.
    arg_str* midi = nullptr;
    arg_str* midi_out = nullptr;
    arg_str* automate = nullptr;
    arg_str* batch = nullptr;
    arg_lit* skip_existing = nullptr;
    // Saving the plugin's state as a preset.
    arg_str* save_preset = nullptr;
    arg_str* preset_dir = nullptr;
    // The last steps of the output: dither, rates and loudness.
    arg_str* dither = nullptr;
    arg_str* output_rate = nullptr;
    arg_str* plugin_rate = nullptr;
    arg_str* loudness = nullptr;
    arg_str* true_peak = nullptr;
    arg_lit* measure_loudness = nullptr;
    arg_str* plugin = nullptr;
    struct arg_end* end = nullptr;
    ArgArray<34> owner;
    // The entries the usage text shows, with the plugin and end entries.
    std::array<void*, 12> usage_view{};
};

// The processing table's values after its parse.
struct RunOptions {
    std::string input;
    std::string output;
    int rate = -1;
    int channels = -1;
    bool has_preset = false;
    std::string preset;
    std::vector<std::string> parameters;
    std::vector<std::string> connect;
    int blocksize = 512;
    bool mono = false;
    bool ignore_clipping = false;
    std::vector<std::string> set_values; // --set PARAMETER=VALUE, in order
    bool compensate_latency = false;
    bool has_tail = false;
    std::string tail; // seconds, unchecked
    bool has_output_format = false;
    std::string output_format; // TYPE, TYPE:ENCODING or :ENCODING, unchecked
    bool report = false;
    bool has_report_every = false;
    std::string report_every; // seconds, unchecked
    bool json = false;
    bool quiet = false;
    bool has_jobs = false;
    std::string jobs; // thread count, unchecked
    bool has_midi = false;
    std::string midi; // --midi: the MIDI file the plugin plays
    bool has_midi_out = false;
    std::string midi_out; // --midi-out: where the plugin's MIDI output goes
    std::vector<std::string> automate; // --automate values, unchecked, in order
    bool has_batch = false;
    std::string batch; // the job list's path, "-" for standard input
    bool skip_existing = false; // a batch leaves out jobs whose output is current
    bool has_save_preset = false;
    std::string save_preset; // --save-preset: the label, unchecked
    bool has_preset_dir = false;
    std::string preset_dir; // --preset-dir: where presets are saved
    // Set by the run: some plugin of the run saves a preset, which lets the
    // run leave out -i and -o.
    bool run_saves_preset = false;
    bool has_dither = false;
    std::string dither; // the kind, "" for the default; unchecked
    bool has_output_rate = false;
    std::string output_rate; // Hz, unchecked
    bool has_plugin_rate = false;
    std::string plugin_rate; // Hz, unchecked
    bool has_loudness = false;
    std::string loudness; // LUFS, unchecked
    bool has_true_peak = false;
    std::string true_peak; // dBTP, unchecked
    bool measure_loudness = false;
    // Filled by check_option_values.
    double tail_seconds = 0.0;
    double report_every_seconds = 0.0; // 0: one reading, after the last block
    int job_count = 0; // 0: one per online core
    OutputFormatRequest output_format_request; // parts left out are 0
    std::vector<Automation> automations; // the --automate values read
    MasterSteps master; // --dither, the rates and the loudness, read
    std::string plugin;
};

// Each builder returns false when an entry could not be allocated.
bool build_list_table(ListTable& table);
bool build_nameports_table(PluginTables& tables);
bool build_list_presets_table(PluginTables& tables);
bool build_info_table(InfoTable& table);
// With `files_required` false (a run of a job list), -i and -o may be left out.
bool build_processing_table(ProcessingTable& table, bool files_required = true);

// Parses the command line with the processing table; returns the error count.
int parse_processing_table(int argc, char** argv, ProcessingTable& table);

RunOptions read_run_options(const ProcessingTable& table);

// Whether the processing table's errors are only that -i or -o (or both)
// is missing, which a plugin without audio inputs or outputs allows.
struct MissingFiles {
    bool only = false; // every error is one of these
    bool input = false;
    bool output = false;
};
MissingFiles missing_files(const ProcessingTable& table);

// The processing table's errors, each line after `error_prefix`, then the
// syntax of all tables and the glossary, all on standard error.
void print_usage(ListTable& list, PluginTables& plugin_tables, ProcessingTable& processing,
                 std::string_view error_prefix = {});


enum class RawFloat { rejected, off, on };

// Rate and channels must both be given or both be absent; raw float mode
// holds when both are positive.
RawFloat raw_float_rule(int rate, int channels);

} // namespace tonbrix::cli
