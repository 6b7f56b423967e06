#include "cli/master_steps.h"

#include "cli/option_tables.h"
#include "cli/option_values.h"


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
    return {};
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
