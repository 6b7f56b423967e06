#pragma once

#include <tonbrix/export.h>

#include <tonbrix/error.h>
#include <tonbrix/automation.h>
#include <tonbrix/mastering.h>
#include <tonbrix/events.h>
#include <tonbrix/midi.h>
#include <tonbrix/plugin.h>
#include <tonbrix/readings.h>
#include <tonbrix/render.h>
#include <tonbrix/sound_file.h>
#include <tonbrix/stop.h>
#include <tonbrix/world.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tonbrix {

// One plugin of a run's chain, with what it plays and where its MIDI goes.
// Each plugin takes the outputs of the one before it (the input's channels
// for the first).
struct PluginStep {
    std::string uri;
    std::optional<std::string> preset; // the label of a preset restored first
    // Control and CV input values by port symbol, in order, over the
    // preset; then the same as the command line's -p items
    // ("symbol:value", comma-separated), whose errors come at the same point.
    std::vector<std::pair<std::string, float>> controls;
    std::vector<std::string> control_items;
    // Writable parameters (patch:writable) as "PARAMETER=VALUE", as --set
    // takes them: given by the state restore where the plugin takes them
    // so, else as messages, all settled on silence before the first block.
    std::vector<std::string> set_values;
    // Channel routing: these connections (and then the command line's
    // --connect items, "channel:symbol" or "channel:instance.symbol"), or
    // every channel mixed into each input (mono), or else the automatic
    // routing (one instance per group of channels).
    std::vector<ChannelConnection> connections;
    std::vector<std::string> connect_items;
    bool mono = false;
    // What the plugin plays on its MIDI input: a Standard MIDI File, or
    // events in memory (not both). Its transport follows their tempo.
    std::string midi_file;
    std::optional<MidiSequence> midi;
    // Where the plugin's MIDI output goes: a Standard MIDI File, written at
    // the end of a finished run; and/or `midi_out`, filled then (event
    // times from the start of the run, latency taken out with compensation).
    std::string midi_out_file;
    MidiSequence* midi_out = nullptr;
    std::vector<Automation> automation;
    // Saves the plugin's state after a finished run (its first instance's,
    // with the control values it ran with) as a preset with this label in
    // the run's preset folder: a new bundle, or the one that holds the
    // plugin's preset of this label, replaced. A run whose plugins save
    // presets may leave out the input and the output (its audio inputs get
    // silence).
    std::optional<std::string> save_preset;
    // Where this plugin's notes, warnings and log lines go; the run's
    // events when null.
    EventSink* events = nullptr;
};

// The rate of a run without an audio input, unless it says one.
inline constexpr int default_instrument_rate = 48000;

// The largest block size a run takes: larger blocks only cost memory, and
// buffers of that many frames for every port would exhaust it.
inline constexpr uint32_t max_block_size = 1048576;

// The message when a run does not take this block size: below 1 frame or
// above max_block_size.
TONBRIX_API Status check_block_size(int64_t frames);

// One description of a processing run: the chain of plugins, where the
// audio comes from and goes, and how the run goes.
struct RunSettings {
    std::vector<PluginStep> plugins; // at least one

    // The input: a sound file ("-" standard input), or a source in memory
    // (`source`, at `sample_rate`), or none for plugins without audio
    // inputs (then silence up to the end of the first plugin's MIDI and the
    // tail, at `sample_rate`, else 48000 Hz).
    std::string input_file;
    Source* source = nullptr;
    int sample_rate = -1; // -1: unset
    // An input file of headerless 32-bit floats, with `sample_rate` and
    // `channels` (the command line's -r and -n).
    bool raw = false;
    int channels = -1; // -1: unset
    // The output: a sound file ("-" standard output) in the input's format
    // unless `output_format` says otherwise, or a sink in memory (`sink`),
    // or none for plugins without audio outputs.
    std::string output_file;
    Sink* sink = nullptr;
    std::optional<OutputFormatRequest> output_format;

    // The last steps of the output: the input converted to the plugins'
    // rate (`plugin_rate`, 0: the input's) and the output to its own
    // (`output_rate`, 0: the input's), both from lowest_conversion_rate to
    // highest_conversion_rate; the output normalised to `loudness_lufs`
    // under a true-peak ceiling, or only measured, then dithered when it is
    // written as integers of 8 to 24 bits. Without them the run is as before.
    int plugin_rate = 0;
    int output_rate = 0;
    std::optional<double> loudness_lufs;
    double true_peak_dbtp = -1.0;
    bool measure_loudness = false;
    std::optional<DitherKind> dither;
    // The folder the plugins' presets are saved in; none: ~/.lv2.
    std::optional<std::string> preset_folder;

    uint32_t block_size = default_block_size; // 1 up to max_block_size
    unsigned jobs = 0;         // threads of the render; 0: one per online core
    std::optional<double> tail_seconds; // run on silence after the input's end
    bool compensate_latency = false;
    bool check_clipping = true;
    // Readings of every plugin's control outputs: at the end, and with a
    // period above 0 also after the first block past each period.
    bool readings = false;
    double reading_period_seconds = 0.0;
    // Whether the caller shows notes. The render goes the same way either
    // way: the lines plugins raise while they run keep their block order at
    // every job count.
    bool notes = true;

    EventSink* events = nullptr;     // notes and warnings of the run; none when null
    const StopRequest* stop = nullptr; // ends the run early when requested

    // With an InstanceCache and one plugin: go on with the instances the
    // cache kept from the last run of the same shape as that run left them
    // (not activated again, no reset check, only the control values set
    // anew), and keep them for the next run whatever the reset check
    // found; so that a signal run in pieces gives what one run gives.
    // Without such instances the run starts as usual.
    bool resume = false;
};

enum class RunStatus { finished, stopped, failed };

// An error of a run; `step` is the chain position (from 0) of the plugin it
// concerns, if it concerns one.
struct RunError {
    Error error;
    std::optional<std::size_t> step;
};

struct RunResult {
    RunStatus status = RunStatus::failed;
    uint64_t frames_written = 0; // the frames the plugins gave, at their rate
    int sample_rate = 0;         // the output's rate (the plugins' without conversions)
    std::vector<PluginReadings> readings; // by chain position, when asked for
    // The output's loudness, when measured or normalised (after the
    // normalisation), of a finished run.
    std::optional<Loudness> loudness;
    std::vector<RunError> errors;         // in the order they came
    bool ok() const { return status == RunStatus::finished && errors.empty(); }
};

// What a caller learns while a run goes, besides the events; every call
// comes from the calling thread except progress(), which may come from the
// render's writer thread. The defaults do nothing.
class TONBRIX_API RunObserver {
public:
    // A temporary file that a crash should remove (the output's, a MIDI
    // output's) was made.
    virtual void temporary_file(const std::string&) {}
    // The render starts: its expected output length (-1 when unknown) and rate.
    virtual void render_starting(int64_t, int) {}
    virtual void progress(uint64_t) {}
    // The render ended, finished or not.
    virtual void render_ended(bool) {}
    // The output's loudness of a finished run that measured it (with
    // measure_loudness or readings asked for), before its readings.
    virtual void loudness_measured(const Loudness&) {}
    // The readings of a finished run, before the closing notes and warnings.
    virtual void readings_taken(const std::vector<PluginReadings>&) {}

protected:
    ~RunObserver() = default;
};

// The instances of one-plugin runs kept for the next run of the same
// shape (rate, channels, block size, routing, preset, --set values): they
// are deactivated and activated again instead of made anew. The first time
// it could keep them, a reset check runs the plugin on noise and compares
// it with new instances; a plugin whose activation does not reset it is
// never kept. The instances of the last few shapes are kept. One run at a
// time may use a cache, on the world it was used with.
class TONBRIX_API InstanceCache {
public:
    InstanceCache();
    InstanceCache(InstanceCache&&) noexcept;
    InstanceCache& operator=(InstanceCache&&) noexcept;
    ~InstanceCache();

    // Frees every instance kept.
    void release();
    // Whether the reset check has run, and what it found.
    bool checked() const;
    bool resets() const;

    struct Impl;

private:
    friend struct InstanceCacheAccess; // the library's way in
    std::unique_ptr<Impl> impl_;
};

// Runs the input through the chain of plugins into the output: looks up
// every plugin, takes its preset, its default state and its --set values,
// plans its events, opens the files, routes the channels, makes and
// activates the instances (or takes them from `cache`, for one plugin),
// settles the --set values, renders, and writes the MIDI outputs. The
// result tells what happened; notes and warnings come as events on the way.
TONBRIX_API RunResult run(World& world, const RunSettings& settings, RunObserver* observer = nullptr,
                          InstanceCache* cache = nullptr);

// Whether the plugin lets a run leave out the audio input (it has no
// audio inputs) and the output (no audio outputs, or its MIDI output is
// written); false for a URI of no plugin.
TONBRIX_API bool files_may_be_left_out(const World& world, std::string_view uri, bool midi_out,
                                       bool has_input, bool has_output);

// The message for a run that leaves out the output although the plugin's
// audio outputs need it: what to give instead. Empty when the missing
// input is the fault (the plugin has audio inputs), or there is no such
// plugin.
TONBRIX_API std::string missing_output_message(const World& world, std::string_view uri,
                                               bool has_input);

// The warning for readings asked of plugins (by URI, in chain order) none
// of which has control outputs (meters that send their readings as atom
// messages): there would be none. Empty when one of them has one.
TONBRIX_API std::string empty_report_warning(const World& world,
                                             const std::vector<std::string>& uris);

} // namespace tonbrix
