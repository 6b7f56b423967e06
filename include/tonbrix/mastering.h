#pragma once

#include <tonbrix/export.h>

#include <optional>
#include <string_view>

namespace tonbrix {

// The dither added before a conversion to a shorter integer encoding.
enum class DitherKind {
    triangular, // TPDF of +-1 LSB, white
    shaped,     // the same TPDF, its error fed back through a fixed filter
};

// The kind a --dither value names ("" is the default, triangular); none
// for an unknown name.
TONBRIX_API std::optional<DitherKind> parse_dither_kind(std::string_view text);

// The rates a sample-rate conversion takes, in Hz.
inline constexpr int lowest_conversion_rate = 1000;
inline constexpr int highest_conversion_rate = 768000;

// What a measurement by BS.1770-4 / EBU R128 found: the integrated
// loudness (-infinity for audio below the absolute gate), the loudness
// range and the largest true peak of the channels.
struct Loudness {
    double integrated_lufs = 0.0;
    double range_lu = 0.0;
    double true_peak_dbtp = 0.0;

    // Whether the audio is silence to the measurement (below the gate).
    TONBRIX_API bool silent() const;
};

} // namespace tonbrix
