#pragma once

#include "cli/json_documents.h"

#include <tonbrix/error.h>
#include <tonbrix/mastering.h>

#include <optional>
#include <string>

namespace tonbrix::cli {

// The last steps of a run's output as the options ask for them.
struct MasterSteps {
    std::optional<DitherKind> dither;
    int output_rate = 0; // 0: the input's rate
    int plugin_rate = 0; // 0: the input's rate
    std::optional<double> loudness_lufs;
    double ceiling_dbtp = -1.0;
    bool measure_loudness = false;
};

struct RunOptions;

// Reads --dither, --output-rate, --plugin-rate, --loudness, --true-peak and
// --measure-loudness into `options.master`; the message of the first value
// that cannot be taken otherwise.
Status read_master_steps(RunOptions& options);

// The report's line of the output's loudness.
std::string loudness_text(const Loudness& loudness);

// The report document's "loudness" object: integrated_lufs, range_lu and
// true_peak_dbtp, null for silence (minus infinity).
Json loudness_json(const Loudness& loudness);

} // namespace tonbrix::cli
