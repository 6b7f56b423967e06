// The library's one call for a processing run, through the public headers
// alone: memory in and out, a chain with controls, automation and readings
// over time, MIDI events in memory, errors that name their plugin, the stop
// request, kept instances and resumed runs, the last steps of the output, range warnings,
// saved presets and a batch whose crashing job costs only itself.
#include <tonbrix/batch.h>
#include <tonbrix/memory.h>
#include <tonbrix/run.h>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <mutex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace tonbrix;

namespace {

World& test_world()
{
    static World world = [] {
        setenv("LV2_PATH", TONBRIX_TEST_LV2_DIR, 1);
        Result<World> loaded = World::load();
        if (!loaded) {
            std::abort();
        }
        return std::move(loaded.value());
    }();
    return world;
}

const std::string thru = "http://tonbrix.test/plugins/thru";

// A step of the plugin with `uri`, changed by `change`.
template <class Change>
PluginStep step(const std::string& uri, Change change)
{
    PluginStep made;
    made.uri = uri;
    change(made);
    return made;
}
PluginStep step(const std::string& uri)
{
    return step(uri, [](PluginStep&) {});
}

std::vector<float> ramp(std::size_t frames)
{
    std::vector<float> samples(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        samples[f] = static_cast<float>(f % 200) / 256.0f - 0.375f;
    }
    return samples;
}

// A run of `plugins` from a mono buffer into memory at 48000 Hz.
struct MemoryRun {
    std::vector<float> input;
    MemorySource source;
    MemorySink sink;
    RunSettings settings;

    MemoryRun(std::vector<PluginStep> plugins, std::size_t frames)
        : input(ramp(frames)), source({input.data()}, frames)
    {
        settings.plugins = std::move(plugins);
        settings.source = &source;
        settings.sink = &sink;
        settings.sample_rate = 48000;
    }

    RunResult run(InstanceCache* cache = nullptr)
    {
        source.rewind();
        return tonbrix::run(test_world(), settings, nullptr, cache);
    }
};

std::string first_error(const RunResult& result)
{
    return result.errors.empty() ? std::string() : result.errors.front().error.message;
}

std::string temporary_folder(const std::string& name)
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("tonbrix-library-" + name + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder.string();
}

} // namespace

TEST(LibraryRun, MemoryThroughAChainWithControlsAndCommandLineItems)
{
    // 1000 frames in blocks of 64: the last block is partial. The first
    // plugin takes a typed control, the second the command line's item.
    for (const unsigned jobs : {1u, 3u}) {
        MemoryRun memory({step(thru, [](PluginStep& s) { s.controls = {{"gain", 2.0f}}; }),
                          step(thru, [](PluginStep& s) { s.control_items = {"gain:3"}; })},
                         1000);
        memory.settings.block_size = 64;
        memory.settings.jobs = jobs;
        memory.settings.check_clipping = false; // the output goes beyond full scale
        const RunResult result = memory.run();
        ASSERT_TRUE(result.ok()) << first_error(result);
        EXPECT_EQ(result.frames_written, 1000u);
        EXPECT_EQ(result.sample_rate, 48000);
        ASSERT_EQ(memory.sink.channels().size(), 1u);
        const std::vector<float>& out = memory.sink.channels().front();
        ASSERT_EQ(out.size(), 1000u);
        for (std::size_t f = 0; f < out.size(); ++f) {
            ASSERT_EQ(out[f], memory.input[f] * 2.0f * 3.0f) << "frame " << f << ", jobs " << jobs;
        }
    }
}

TEST(LibraryRun, AutomationMovesAControlAndReadingsFollowItOverTime)
{
    // The delay plugin reports its delay as its latency after every run:
    // automated from 0 to 4800 frames over one second, the readings every
    // quarter second climb with it, and the last is at the run's end.
    Automation delay;
    delay.symbol = "delay";
    delay.points = {{0.0, 0.0}, {1.0, 4800.0}};
    MemoryRun memory({step("http://tonbrix.test/plugins/delay",
                           [&](PluginStep& s) { s.automation = {delay}; })},
                     48000);
    memory.settings.readings = true;
    memory.settings.reading_period_seconds = 0.25;
    const RunResult result = memory.run();
    ASSERT_TRUE(result.ok()) << first_error(result);
    ASSERT_EQ(result.readings.size(), 1u);
    const PluginReadings& readings = result.readings.front();
    EXPECT_EQ(readings.uri, "http://tonbrix.test/plugins/delay");
    EXPECT_EQ(readings.symbols, std::vector<std::string>{"latency"});
    ASSERT_EQ(readings.readings.size(), 4u);
    EXPECT_EQ(readings.readings.back().frame, result.frames_written);
    float previous = -1.0f;
    uint64_t previous_frame = 0;
    for (const Reading& reading : readings.readings) {
        ASSERT_EQ(reading.values.size(), 1u);
        EXPECT_GT(reading.frame, previous_frame);
        EXPECT_GT(reading.values[0][0], previous);
        // The value follows the line between the points, taken at the start
        // of the block that ends at the reading (and made whole frames).
        const double start = static_cast<double>((reading.frame - 1) / 512 * 512);
        EXPECT_NEAR(reading.values[0][0], 4800.0 * start / 48000.0, 1.0) << reading.frame;
        previous = reading.values[0][0];
        previous_frame = reading.frame;
    }
}

TEST(LibraryRun, MidiEventsInMemoryGoInAndComeBackOut)
{
    // The echo plugin has no audio: the run lasts up to the events' end and
    // writes only its MIDI output, here into memory.
    MidiSequence played;
    played.events = {{0.1, {0x90, 60, 100}}, {0.25, {0x80, 60, 0}}, {0.3, {0xB0, 7, 90}}};
    played.length_seconds = 0.5;
    MidiSequence echoed;
    RunSettings settings;
    settings.plugins = {step("http://tonbrix.test/plugins/eventecho", [&](PluginStep& s) {
        s.midi = played;
        s.midi_out = &echoed;
    })};
    const RunResult result = run(test_world(), settings);
    ASSERT_TRUE(result.ok()) << first_error(result);
    EXPECT_EQ(result.sample_rate, default_instrument_rate);
    EXPECT_NEAR(static_cast<double>(result.frames_written), 24000.0, 1.0); // up to the end
    ASSERT_EQ(echoed.events.size(), played.events.size());
    for (std::size_t e = 0; e < played.events.size(); ++e) {
        EXPECT_EQ(echoed.events[e].bytes, played.events[e].bytes) << e;
        EXPECT_NEAR(echoed.events[e].seconds, played.events[e].seconds, 1.0 / 48000) << e;
    }
    EXPECT_DOUBLE_EQ(echoed.length_seconds, static_cast<double>(result.frames_written) / 48000.0);
}

TEST(LibraryRun, ErrorsSayWhichPluginTheyConcern)
{
    struct Case {
        const char* label;
        std::vector<PluginStep> plugins;
        uint32_t block_size;
        bool file_and_source;
        std::string message;
        std::optional<std::size_t> step;
    };
    const std::vector<Case> cases = {
        {"unknown control",
         {step(thru), step(thru, [](PluginStep& s) { s.controls = {{"nosuch", 1.0f}}; })}, 512,
         false, "Error: Port with symbol nosuch does not exist.\n", 1},
        {"item without colon", {step(thru, [](PluginStep& s) { s.control_items = {"gain"}; })},
         512, false, "Error parsing parameters:  Expected colon between port and value.\n", 0},
        {"unknown plugin", {step(thru), step("http://tonbrix.test/plugins/nosuch")}, 512, false,
         "No such plugin http://tonbrix.test/plugins/nosuch\n", 1},
        {"unknown preset", {step(thru, [](PluginStep& s) { s.preset = "nothing"; })}, 512, false,
         "Preset 'nothing' was not found.\n", 0},
        {"block size", {step(thru)}, 0, false, "Error: block size must be at least 1 frame.\n",
         std::nullopt},
        {"two inputs", {step(thru)}, 512, true,
         "Error: a run reads one input: a file or a source in memory, not both.\n", std::nullopt},
    };
    for (const Case& c : cases) {
        MemoryRun memory(c.plugins, 100);
        memory.settings.block_size = c.block_size;
        if (c.file_and_source) {
            memory.settings.input_file = "in.wav";
        }
        const RunResult result = memory.run();
        EXPECT_EQ(result.status, RunStatus::failed) << c.label;
        ASSERT_EQ(result.errors.size(), 1u) << c.label;
        EXPECT_EQ(result.errors[0].error.message, c.message) << c.label;
        EXPECT_EQ(result.errors[0].step, c.step) << c.label;
        EXPECT_TRUE(memory.sink.channels().empty()) << c.label;
    }
}

// The events of a run, kept as text by kind.
class KeptEvents final : public EventSink {
public:
    void report(EventKind kind, std::string_view text) noexcept override
    {
        const std::lock_guard<std::mutex> held(lock_);
        (kind == EventKind::warning ? warnings : notes) += text;
    }
    std::string warnings;
    std::string notes;

private:
    std::mutex lock_;
};

// Counts what the observer learns of the loudness and the readings, in order.
class LoudnessObserver final : public RunObserver {
public:
    void loudness_measured(const Loudness& loudness) override
    {
        order += "loudness ";
        measured = loudness;
    }
    void readings_taken(const std::vector<PluginReadings>&) override { order += "readings"; }
    std::string order;
    std::optional<Loudness> measured;
};

TEST(LibraryRun, TheOutputsLastStepsAreSettingsOfTheRun)
{
    // 1 s at 48000 Hz out at 24000 Hz, measured: half as many frames
    // in the sink, the loudness handed over before the readings and kept in
    // the result; a gain beyond the port's range is applied and warned about.
    MemoryRun memory({step(thru, [](PluginStep& s) { s.controls = {{"gain", 0.5f}}; }),
                      step(thru, [](PluginStep& s) { s.control_items = {"gain:150"}; })},
                     48000);
    KeptEvents second;
    memory.settings.plugins[1].events = &second;
    memory.settings.output_rate = 24000;
    memory.settings.measure_loudness = true;
    memory.settings.readings = true;
    memory.settings.check_clipping = false;
    LoudnessObserver observer;
    memory.source.rewind();
    const RunResult result = tonbrix::run(test_world(), memory.settings, &observer);
    ASSERT_TRUE(result.ok()) << first_error(result);
    EXPECT_EQ(result.sample_rate, 24000);
    ASSERT_EQ(memory.sink.channels().size(), 1u);
    EXPECT_EQ(memory.sink.channels().front().size(), 24000u);
    ASSERT_TRUE(result.loudness.has_value());
    EXPECT_TRUE(std::isfinite(result.loudness->integrated_lufs));
    EXPECT_EQ(observer.order, "loudness readings");
    ASSERT_TRUE(observer.measured.has_value());
    EXPECT_EQ(observer.measured->integrated_lufs, result.loudness->integrated_lufs);
    EXPECT_EQ(second.warnings, "WARNING: gain is 150, outside its range 0 to 100 (applied as given).\n");

    // Without the settings nothing is measured and the rate stays.
    MemoryRun plain({step(thru)}, 4800);
    const RunResult unconverted = plain.run();
    ASSERT_TRUE(unconverted.ok()) << first_error(unconverted);
    EXPECT_EQ(unconverted.sample_rate, 48000);
    EXPECT_EQ(plain.sink.channels().front().size(), 4800u);
    EXPECT_FALSE(unconverted.loudness.has_value());
}

TEST(LibraryRun, APresetIsSavedIntoTheRunsFolderWithoutInputOrOutput)
{
    const std::string folder = temporary_folder("presets");
    RunSettings settings;
    settings.plugins = {step(thru, [](PluginStep& s) {
        s.controls = {{"gain", 7.0f}};
        s.save_preset = "Seven";
    })};
    settings.preset_folder = folder;
    KeptEvents events;
    settings.plugins.front().events = &events;
    const RunResult result = tonbrix::run(test_world(), settings);
    ASSERT_TRUE(result.ok()) << first_error(result);
    std::vector<std::filesystem::path> bundles;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        bundles.push_back(entry.path());
    }
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(events.notes, "Note: Saved the preset 'Seven' in " + bundles.front().string() + "\n");
    std::ifstream file(bundles.front() / "Seven.ttl");
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    EXPECT_NE(text.find("\"gain\""), std::string::npos) << text;
    EXPECT_NE(text.find("7"), std::string::npos) << text;
    std::filesystem::remove_all(folder);
}

TEST(LibraryRun, AStopRequestEndsTheRunAsStopped)
{
    MemoryRun memory({step(thru)}, 48000);
    StopRequest stop;
    EXPECT_TRUE(stop.request(SIGTERM));
    EXPECT_FALSE(stop.request(SIGINT)); // the first reason stays
    EXPECT_EQ(stop.reason(), SIGTERM);
    EXPECT_EQ(stop.last_reason(), SIGINT);
    memory.settings.stop = &stop;
    const RunResult result = memory.run();
    EXPECT_EQ(result.status, RunStatus::stopped);
    EXPECT_LT(result.frames_written, 48000u);
}

TEST(LibraryRun, ACacheKeepsOnlyInstancesThatActivationResets)
{
    // The log tells each instance made; the reset check makes one more.
    const std::string folder = temporary_folder("cache");
    const std::string log = folder + "/log";
    setenv("TONBRIX_TEST_LOG", log.c_str(), 1);
    const auto instantiations = [&log] {
        std::ifstream in(log);
        std::string line;
        int count = 0;
        while (std::getline(in, line)) {
            count += line.rfind("instantiate", 0) == 0 ? 1 : 0;
        }
        return count;
    };
    struct Case {
        std::string uri;
        bool resets; // "invalid" counts its frames across activations
    };
    for (const Case& c : {Case{thru, true}, Case{"http://tonbrix.test/plugins/invalid", false}}) {
        std::filesystem::remove(log);
        InstanceCache cache;
        MemoryRun memory({step(c.uri)}, 3000);
        std::vector<std::vector<float>> outputs;
        std::vector<int> made;
        for (int r = 0; r < 3; ++r) {
            const RunResult result = memory.run(&cache);
            ASSERT_TRUE(result.ok()) << c.uri << ": " << first_error(result);
            outputs.push_back(memory.sink.take().at(0));
            made.push_back(instantiations());
        }
        EXPECT_TRUE(cache.checked()) << c.uri;
        EXPECT_EQ(cache.resets(), c.resets) << c.uri;
        // Every run gives what new instances give.
        EXPECT_EQ(outputs[1], outputs[0]) << c.uri;
        EXPECT_EQ(outputs[2], outputs[0]) << c.uri;
        // Kept instances serve the third run; otherwise each run makes its own.
        EXPECT_EQ(made[2] - made[1], c.resets ? 0 : 1) << c.uri;
    }
    unsetenv("TONBRIX_TEST_LOG");
    std::filesystem::remove_all(folder);
}

TEST(LibraryRun, AResumedRunGoesOnFromTheStateTheLastRunLeft)
{
    // A delay line across the pieces' ends, and "invalid", whose activation
    // does not reset it (resumed all the same): pieces of whole blocks give
    // what one run gives, and a run without resume after them is new again.
    const std::vector<std::size_t> pieces = {1024, 4096, 512, 2500};
    std::size_t total = 0;
    for (const std::size_t piece : pieces) {
        total += piece;
    }
    const std::vector<float> input = ramp(total);
    const std::vector<PluginStep> plugins = {
        step("http://tonbrix.test/plugins/delay",
             [](PluginStep& s) { s.controls = {{"delay", 700.0f}}; }),
        step("http://tonbrix.test/plugins/invalid")};
    for (const PluginStep& plugin : plugins) {
        const std::string& uri = plugin.uri;
        const auto run_piece = [&](std::size_t start, std::size_t frames, bool resume,
                                   InstanceCache* cache) {
            MemorySource source({input.data() + start}, frames);
            MemorySink sink;
            RunSettings settings;
            settings.plugins = {plugin};
            settings.source = &source;
            settings.sink = &sink;
            settings.sample_rate = 48000;
            settings.resume = resume;
            const RunResult result = tonbrix::run(test_world(), settings, nullptr, cache);
            EXPECT_TRUE(result.ok()) << uri << ": " << first_error(result);
            return sink.take().at(0);
        };
        const std::vector<float> whole = run_piece(0, total, false, nullptr);
        InstanceCache cache;
        std::vector<float> joined;
        std::size_t start = 0;
        for (const std::size_t piece : pieces) {
            const std::vector<float> out = run_piece(start, piece, true, &cache);
            joined.insert(joined.end(), out.begin(), out.end());
            start += piece;
        }
        EXPECT_EQ(joined, whole) << uri;
        EXPECT_EQ(run_piece(0, total, false, &cache), whole) << uri;
    }
}

TEST(LibraryBatch, AJobWhosePluginCrashesCostsOnlyItself)
{
    const std::string folder = temporary_folder("batch");
    std::vector<BatchJob> jobs;
    for (int j = 0; j < 3; ++j) {
        MemoryRun make({step(thru)}, 2000);
        make.settings.sink = nullptr;
        make.settings.output_file = folder + "/in" + std::to_string(j) + ".wav";
        ASSERT_TRUE(make.run().ok());
        BatchJob job;
        job.input = make.settings.output_file;
        job.output = folder + "/out" + std::to_string(j) + ".wav";
        jobs.push_back(job);
    }
    jobs[1].parameters = {"signal:11"}; // a write through a null pointer
    RunSettings batch;
    batch.plugins = {step("http://tonbrix.test/plugins/raise")};
    std::vector<std::size_t> finished;
    BatchCallbacks callbacks;
    callbacks.finished = [&finished](std::size_t job, JobOutcome&&) { finished.push_back(job); };
    // The workers inherit the default action, so that the crash ends the
    // worker by its signal as the program's own handler does (under the
    // sanitizers their handler would report it and exit with status 1).
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGSEGV, &plain, &previous), 0);
    const BatchResult result = run_batch(test_world(), batch, jobs, 2, callbacks);
    ::sigaction(SIGSEGV, &previous, nullptr);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.stopped, 0);
    ASSERT_EQ(result.outcomes.size(), 3u);
    EXPECT_EQ(finished.size(), 3u);
    for (const std::size_t j : {0u, 2u}) {
        EXPECT_EQ(result.outcomes[j].status, 0) << result.outcomes[j].err;
        EXPECT_EQ(result.outcomes[j].crash_signal, 0);
        EXPECT_TRUE(std::filesystem::exists(jobs[j].output));
    }
    EXPECT_EQ(result.outcomes[1].crash_signal, SIGSEGV);
    EXPECT_NE(result.outcomes[1].status, 0);
    EXPECT_FALSE(std::filesystem::exists(jobs[1].output));
    std::filesystem::remove_all(folder);
}
