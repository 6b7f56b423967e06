#pragma once

#include "engine/parameter_settling.h"

#include <cstdint>

namespace tonbrix {

// Feeds every audio input of the instances the same deterministic noise
// for `frames` frames (whole blocks), outputs discarded: it leaves a trace
// in whatever state a plugin keeps. Ends early when the run's stop is set.
void run_on_noise(const SettleRun& run, uint64_t frames);

// Runs two sets of instances of one plugin and shape side by side on the
// same noise for `frames` frames (whole blocks), and tells whether every
// audio and control output came out the same, bit for bit, in every
// block; false when the run's (a's) stop is set first. Instances that
// were activated again after use give what new ones give only when their
// activation really resets them.
bool same_response(const SettleRun& a, const SettleRun& b, uint64_t frames);

} // namespace tonbrix
