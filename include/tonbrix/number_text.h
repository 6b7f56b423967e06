#pragma once

#include <tonbrix/export.h>

#include <cstdint>
#include <string>

namespace tonbrix {

// The shortest decimal text that reads back as the same float ("0.1",
// "-90", "1e-05"); "nan", "inf" and "-inf" for the values without digits.
TONBRIX_API std::string float_text(float value);

// The shortest decimal text that reads back as the same double.
TONBRIX_API std::string double_text(double value);

// The float as the double its shortest text stands for: 0.1f becomes 0.1,
// so that JSON shows the value as the data wrote it and reads back exactly.
TONBRIX_API double float_as_decimal(float value);

// A time in seconds of `frames` at `rate`, as the shortest text of the
// quotient ("12.5", "0.010666666666666666").
TONBRIX_API std::string seconds_text(uint64_t frames, double rate);

} // namespace tonbrix
