#pragma once

#include "io/dithering_sink.h"
#include "io/loudness_sink.h"
#include "io/resampling_stages.h"

#include <tonbrix/events.h>
#include <tonbrix/render.h>
#include <tonbrix/run.h>

#include <memory>
#include <optional>
#include <string>

namespace tonbrix {

// The rates of one run: the input's (or the rate without one), the
// plugins' and the output's.
struct RunRates {
    int input = 0;
    int plugins = 0;
    int output = 0;
};

// The rates of a run whose input (or silence) has `input_rate`.
RunRates run_rates(const RunSettings& settings, int input_rate);

// The stages around a run's source and sink: the input converted to the
// plugins' rate, and the output converted to its rate, measured or
// normalised, then dithered, before the sink. Stages that the settings do
// not ask for are left out, so that such a run is as before.
class MasterStages {
public:
    // The source the render reads.
    Source& source(Source& inner, const RunRates& rates);

    // The sink the render writes to, given the output's libsndfile format
    // and the folder for the loudness normalisation's temporary file.
    // Notes about the settings go to `events`.
    Sink& sink(Sink& inner, const RunSettings& settings, const RunRates& rates, int format,
               const std::string& spill_folder, EventSink& events);

    // After the render: the loudness stage's outcome, if there is one.
    std::optional<LoudnessGain> loudness() const;

private:
    std::unique_ptr<ResamplingSource> resampled_;
    std::unique_ptr<DitheringSink> dithering_;
    std::unique_ptr<LoudnessSink> loudness_;
    std::unique_ptr<ResamplingSink> resampling_;
};

// The folder the loudness normalisation of an output keeps its temporary
// file in: the output's own, or the temporary folder for standard output
// or an output in memory.
std::string spill_folder_of(const std::string& output);

} // namespace tonbrix
