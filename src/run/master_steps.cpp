#include "run/master_steps.h"

#include <sndfile.h>

#include <cstdlib>

namespace tonbrix {

RunRates run_rates(const RunSettings& settings, int input_rate)
{
    RunRates rates;
    rates.input = input_rate;
    rates.plugins = settings.plugin_rate > 0 ? settings.plugin_rate : input_rate;
    rates.output = settings.output_rate > 0 ? settings.output_rate : input_rate;
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

Sink& MasterStages::sink(Sink& inner, const RunSettings& steps, const RunRates& rates,
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
    if (steps.loudness_lufs.has_value() || steps.measure_loudness) {
        LoudnessSinkSettings settings;
        settings.rate = rates.output;
        settings.normalise = steps.loudness_lufs.has_value();
        settings.target_lufs = steps.loudness_lufs.value_or(0.0);
        settings.ceiling_dbtp = steps.true_peak_dbtp;
        settings.spill_folder = spill_folder;
        loudness_ = std::make_unique<LoudnessSink>(*sink, settings);
        sink = loudness_.get();
    }
    if (rates.output != rates.plugins) {
        resampling_ = std::make_unique<ResamplingSink>(*sink, rates.plugins, rates.output);
        sink = resampling_.get();
    }
    return *sink;
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

} // namespace tonbrix
