#include "cli/master_steps.h"

#include "cli/option_tables.h"
#include "cli/option_values.h"
#include "io/clip_stage.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tonbrix::cli {

namespace {

// A whole number of Hz within libsoxr's range; false otherwise.
bool parse_rate(const std::string& text, int& rate)
{
    int value = 0;
    if (!parse_jobs(text, value) || text.size() > 7) {
        return false;
    }
    // parse_jobs holds values above 1024 at 1024: read the digits again.
    const long full = std::strtol(text.c_str(), nullptr, 10);
    if (full < lowest_conversion_rate || full > highest_conversion_rate) {
        return false;
    }
    rate = static_cast<int>(full);
    return true;
}

// A decimal number with an optional sign, in plain notation.
bool parse_signed(const std::string& text, double& value)
{
    const bool negative = !text.empty() && text[0] == '-';
    double magnitude = 0.0;
    if (!parse_tail_seconds(negative ? std::string_view(text).substr(1) : std::string_view(text),
                            magnitude)) {
        return false;
    }
    value = negative ? -magnitude : magnitude;
    return true;
}

Error rate_error(const char* option, const std::string& text)
{
    return Error{"Error: invalid " + std::string(option) + " value '" + text +
                 "': expected a whole number of Hz from " +
                 std::to_string(lowest_conversion_rate) + " to " +
                 std::to_string(highest_conversion_rate) + ".\n"};
}

} // namespace

Status read_master_steps(RunOptions& options)
{
    MasterSteps& steps = options.master;
    if (options.has_dither) {
        steps.dither = parse_dither_kind(options.dither);
        if (!steps.dither) {
            return Error{"Error: invalid --dither value '" + options.dither +
                         "': expected triangular or shaped.\n"};
        }
    }
    if (options.has_output_rate && !parse_rate(options.output_rate, steps.output_rate)) {
        return rate_error("--output-rate", options.output_rate);
    }
    if (options.has_plugin_rate && !parse_rate(options.plugin_rate, steps.plugin_rate)) {
        return rate_error("--plugin-rate", options.plugin_rate);
    }
    if (options.has_loudness) {
        double lufs = 0.0;
        if (!parse_signed(options.loudness, lufs) || !(lufs < 0.0) || lufs < -200.0) {
            return Error{"Error: invalid --loudness value '" + options.loudness +
                         "': expected a negative number of LUFS, e.g. -16.\n"};
        }
        steps.loudness_lufs = lufs;
    }
    if (options.has_true_peak) {
        if (!options.has_loudness) {
            return Error{"Error: --true-peak is the ceiling of --loudness; give --loudness too.\n"};
        }
        if (!parse_signed(options.true_peak, steps.ceiling_dbtp) || steps.ceiling_dbtp > 0.0 ||
            steps.ceiling_dbtp < -200.0) {
            return Error{"Error: invalid --true-peak value '" + options.true_peak +
                         "': expected a number of dBTP, 0 or less, e.g. -1.\n"};
        }
    }
    steps.measure_loudness = options.measure_loudness;
    steps.check_clipping = !options.ignore_clipping;
    return {};
}

RunRates run_rates(const MasterSteps& steps, int input_rate)
{
    RunRates rates;
    rates.input = input_rate;
    rates.plugins = steps.plugin_rate > 0 ? steps.plugin_rate : input_rate;
    rates.output = steps.output_rate > 0 ? steps.output_rate : input_rate;
    return rates;
}

Source& MasterStages::source(Source& inner, const RunRates& rates)
{
    if (rates.plugins == rates.input) {
        return inner;
    }
    resampled_ = std::make_unique<ResamplingSource>(inner, rates.input, rates.plugins);
    return *resampled_;
}

Sink& MasterStages::sink(Sink& inner, const MasterSteps& steps, const RunRates& rates,
                         int format, const std::string& spill_folder, EventSink& events)
{
    Sink* sink = &inner;
    if (steps.dither) {
        const double scale = dither_scale(format);
        const int subtype = format & SF_FORMAT_SUBMASK;
        if (scale > 0.0) {
            dithering_ = std::make_unique<DitheringSink>(*sink, *steps.dither, scale);
            sink = dithering_.get();
        } else if (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE) {
            events.report(EventKind::note,
                          "Note: The output is written as floats; --dither is ignored.\n");
        } else {
            events.report(EventKind::note,
                          "Note: The output's encoding is not linear PCM of 8 to 24 bits; "
                          "--dither is ignored.\n");
        }
    }
    if (rates.output != rates.plugins && steps.check_clipping) {
        // The conversion can overshoot full scale where the render's output
        // did not: checked again after any loudness gain.
        clamping_ = std::make_unique<ClampingSink>(*sink, this->events(events));
        sink = clamping_.get();
    }
    if (steps.wants_loudness()) {
        LoudnessSinkSettings settings;
        settings.rate = rates.output;
        settings.normalise = steps.loudness_lufs.has_value();
        settings.target_lufs = steps.loudness_lufs.value_or(0.0);
        settings.ceiling_dbtp = steps.ceiling_dbtp;
        settings.spill_folder = spill_folder;
        loudness_ = std::make_unique<LoudnessSink>(*sink, settings);
        sink = loudness_.get();
    }
    if (rates.output != rates.plugins) {
        resampling_ = std::make_unique<ResamplingSink>(*sink, rates.plugins, rates.output);
        if (resampled_) {
            // Back from the plugins' rate: the input's frames give
            // round(frames x out / in) exactly, what the plugins added
            // after them (a tail, latency) is converted on its own.
            const ResamplingSource* input = resampled_.get();
            resampling_->set_length([input, rates](uint64_t written) {
                const uint64_t read = input->input_frames();
                const uint64_t there = converted_frames(read, rates.input, rates.plugins);
                if (written < there) {
                    return converted_frames(written, rates.plugins, rates.output);
                }
                return converted_frames(read, rates.input, rates.output) +
                       converted_frames(written - there, rates.plugins, rates.output);
            });
        }
        sink = resampling_.get();
    }
    return *sink;
}

void OneClippingWarning::report(EventKind kind, std::string_view text) noexcept
{
    if (text == clipping_warning && warned_.exchange(true)) {
        return;
    }
    inner_.report(kind, text);
}

EventSink& MasterStages::events(EventSink& inner)
{
    if (!events_) {
        events_ = std::make_unique<OneClippingWarning>(inner);
    }
    return *events_;
}

std::optional<LoudnessGain> MasterStages::loudness() const
{
    return loudness_ ? loudness_->outcome() : std::nullopt;
}

std::string spill_folder_of(const std::string& output)
{
    if (output == "-" || output.empty()) {
        const char* temporary = std::getenv("TMPDIR");
        return temporary != nullptr && *temporary != '\0' ? temporary : "/tmp";
    }
    const std::size_t slash = output.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : output.substr(0, slash);
}

namespace {

std::string decibels(double value)
{
    if (!std::isfinite(value)) {
        return "-inf";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

} // namespace

std::string loudness_text(const Loudness& loudness)
{
    return "Output loudness: " + decibels(loudness.integrated_lufs) + " LUFS integrated, " +
           decibels(loudness.range_lu) + " LU range, " + decibels(loudness.true_peak_dbtp) +
           " dBTP true peak\n";
}

Json loudness_json(const Loudness& loudness)
{
    const auto value = [](double number) {
        return std::isfinite(number) ? Json(number) : Json(nullptr);
    };
    Json out = Json::object();
    out["integrated_lufs"] = value(loudness.integrated_lufs);
    out["range_lu"] = value(loudness.range_lu);
    out["true_peak_dbtp"] = value(loudness.true_peak_dbtp);
    return out;
}

} // namespace tonbrix::cli
