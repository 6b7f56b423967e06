#pragma once

#include "shared_world.h"

#include <tonbrix/run.h>

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tonbrix::python {

// The options of one run of audio in memory, as the command line's.
struct MemoryRunOptions {
    uint32_t block_size = default_block_size;
    std::optional<double> tail_seconds;
    bool compensate_latency = false;
    bool check_clipping = false; // Python users keep floats
    bool reset = true;
    // Whether a call with reset may take instances activated again (where
    // the reset check allows it); false takes new ones every time.
    bool reuse = true;
    // Whether the last plugin writes audio: without, the run has no sink.
    bool audio_out = true;
    std::optional<std::string> preset_folder; // where a step's preset is saved; none: ~/.lv2
    double report_every = 0.0; // seconds; 0 for readings at the end only
};

// The native side of a Plugin or Chain object: runs its plugins over arrays
// in memory, keeping the instances of a one-plugin run for the next call of
// the same shape. One call at a time: another thread waits for the mutex
// (without the GIL). Its World is its own, loaded at the first run, unless
// one is given, so that objects on different threads run side by side.
class Runner {
public:
    explicit Runner(std::shared_ptr<SharedWorld> world) : world_(std::move(world)) {}

    // Runs the (channels, frames) float32 array, or silence when `audio` is
    // None, through the plugins described by `steps`. Returns a dict:
    // "audio" (a new (channels, frames) float32 array), "sample_rate",
    // "readings" (by plugin: uri, symbols, [(frame, values)]), "midi_out"
    // (by plugin: [(seconds, bytes)] or None) and "events" ([(kind, text)]).
    // Raises tonbrix.Error with the command line's message when the run fails.
    pybind11::dict run(const pybind11::list& steps, const pybind11::object& audio,
                       int sample_rate, const MemoryRunOptions& options);

    // Frees the instances kept between calls.
    void release();

private:
    std::shared_ptr<SharedWorld> world_;
    std::mutex mutex_;
    InstanceCache cache_;
};

// The _Runner class of the module.
void define_runner(pybind11::module_& module);

} // namespace tonbrix::python
