#pragma once

#include <tonbrix/error.h>

#include <string>
#include <string_view>
#include <vector>

namespace tonbrix::cli {

// The word that separates the plugins of a chain on the command line.
inline constexpr std::string_view then_word = "--then";

// One plugin of a chain: the words of its own options (-p, -P, -s, -c, -m,
// with their values, as given) and the word that names it.
struct ChainSegment {
    std::vector<std::string> options;
    std::string plugin;
};

// A command line split at --then: the words of the run's options, gathered
// from every segment in order (a repeat from a later segment that changes
// nothing is left out), and one segment per plugin.
struct ChainCommandLine {
    std::vector<std::string> run_options;
    std::vector<ChainSegment> segments;
};

// True when one of the words (the program's name left out) is --then.
bool is_chain(const std::vector<std::string_view>& words);

// The words of one argtable parse: the program's name, the run's options,
// then the segment's options and plugin.
std::vector<std::string> segment_words(std::string_view program, const ChainCommandLine& chain,
                                       std::size_t segment);

// Splits the words after the program's name at every --then and sorts each
// segment's options into the run's and the plugin's, as getopt reads them
// (clustered short options, values glued or in the next word, unique
// prefixes of long names). The message of the first fault otherwise: --then
// at either end or twice in a row, a segment without a plugin or with two,
// an option that lacks its value before --then, an option of another mode
// (listings, help, version), and a run option given in two segments with
// different values.
Result<ChainCommandLine> split_chain(const std::vector<std::string_view>& words);

} // namespace tonbrix::cli
