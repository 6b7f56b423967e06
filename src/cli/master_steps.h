#pragma once

#include "cli/json_documents.h"
#include "io/dither.h"
#include "io/clamping_sink.h"
#include "io/dithering_sink.h"
#include "io/loudness_sink.h"
#include "io/resampling_stages.h"

#include <tonbrix/events.h>
#include <tonbrix/render.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace tonbrix::cli {

// The last steps of a run's output as the options ask for them.
struct MasterSteps {
    std::optional<DitherKind> dither;
    int output_rate = 0; // 0: the plugins' rate
    int plugin_rate = 0; // 0: the input's rate
    std::optional<double> loudness_lufs;
    double ceiling_dbtp = -1.0;
    bool measure_loudness = false;
    bool check_clipping = true; // the converted output too (not --ignore-clipping)

    bool wants_loudness() const { return loudness_lufs.has_value() || measure_loudness; }
};

struct RunOptions;

// Reads --dither, --output-rate, --plugin-rate, --loudness, --true-peak and
// --measure-loudness into `options.master`; the message of the first value
// that cannot be taken otherwise.
Status read_master_steps(RunOptions& options);

// The rates of one run: the input's (or the rate without one), the
// plugins' and the output's.
struct RunRates {
    int input = 0;
    int plugins = 0;
    int output = 0;
};

// The rates of a run whose input (or silence) has `input_rate`.
RunRates run_rates(const MasterSteps& steps, int input_rate);

// Passes events on, all but a second clipping warning: the render's check
// and the check after the output's rate conversion share one.
class OneClippingWarning final : public EventSink {
public:
    explicit OneClippingWarning(EventSink& inner) : inner_(inner) {}
    void report(EventKind kind, std::string_view text) noexcept override;

private:
    EventSink& inner_;
    std::atomic<bool> warned_{false};
};

// The stages around a run's source and sink: the input converted to the
// plugins' rate, and the output converted to its rate, measured or
// normalised, then dithered, before the file sink. Stages that the
// options do not ask for are left out, so that such a run is as before.
class MasterStages {
public:
    // The source the render reads.
    Source& source(Source& inner, const RunRates& rates);

    // The sink the render writes to, given the output's libsndfile format
    // and the folder for the loudness normalisation's temporary file.
    // Notes about the options go to `events`.
    Sink& sink(Sink& inner, const MasterSteps& steps, const RunRates& rates, int format,
               const std::string& spill_folder, EventSink& events);

    // After the render: the loudness stage's outcome, if there is one.
    std::optional<LoudnessGain> loudness() const;

    // Where the render's warnings go: `inner`, with one clipping warning
    // for the render and the stages together (the same object each call).
    EventSink& events(EventSink& inner);

private:
    std::unique_ptr<OneClippingWarning> events_;
    std::unique_ptr<ClampingSink> clamping_;
    std::unique_ptr<ResamplingSource> resampled_;
    std::unique_ptr<DitheringSink> dithering_;
    std::unique_ptr<LoudnessSink> loudness_;
    std::unique_ptr<ResamplingSink> resampling_;
};

// The folder the loudness normalisation of an output keeps its temporary
// file in: the output's own, or the temporary folder for standard output.
std::string spill_folder_of(const std::string& output);

// The report's line of the output's loudness.
std::string loudness_text(const Loudness& loudness);

// The report document's "loudness" object: integrated_lufs, range_lu and
// true_peak_dbtp, null for silence (minus infinity).
Json loudness_json(const Loudness& loudness);

} // namespace tonbrix::cli
