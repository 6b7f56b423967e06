#pragma once

#include <tonbrix/export.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

// The control outputs of every instance of a plugin at one block boundary:
// `frame` is the boundary's position in the run, `values[m][k]` control
// output k of instance m.
struct Reading {
    uint64_t frame = 0;
    std::vector<std::vector<float>> values;
};

// One plugin's readings, with the symbols of its control outputs in port
// order.
struct PluginReadings {
    std::string uri;
    std::vector<std::string> symbols;
    std::vector<Reading> readings;
};

// The lines of one reading as the command line's --report writes them: a
// line "symbol: value" (value as %g) for each control output of each
// instance, instance by instance, in port order (with more than one
// instance each line starts with "N.", N from 1), each after `prefix`.
TONBRIX_API std::string reading_text(const std::vector<std::string>& symbols,
                                     const Reading& reading, std::string_view prefix);

} // namespace tonbrix
