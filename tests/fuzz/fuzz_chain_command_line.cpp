// Command lines split at --then; the words are the input's parts between
// NUL bytes.
#include "cli/chain_command_line.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using namespace tonbrix;
using namespace tonbrix::cli;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> words;
    std::size_t start = 0;
    while (start <= text.size() && size > 0) {
        const std::size_t end = std::min(text.find('\0', start), text.size());
        words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    const Result<ChainCommandLine> chain = split_chain(words);
    if (!chain) {
        const std::string& message = chain.error().message;
        if (!message.starts_with("Error: ") || !message.ends_with("\n")) {
            __builtin_trap();
        }
        return 0;
    }
    // One part per --then and one more, each with its plugin, and every
    // part's words parse to the run's words, its own and its plugin.
    const auto thens = static_cast<std::size_t>(std::count(words.begin(), words.end(), then_word));
    if (chain->segments.size() != thens + 1) {
        __builtin_trap();
    }
    for (std::size_t k = 0; k < chain->segments.size(); ++k) {
        const std::vector<std::string> parse = segment_words("tonbrix", chain.value(), k);
        if (parse.back() != chain->segments[k].plugin ||
            std::find(parse.begin(), parse.end(), then_word) != parse.end()) {
            __builtin_trap();
        }
    }
    return 0;
}
