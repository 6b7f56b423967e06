#include "cli/chain_command_line.h"

#include <algorithm>
#include <array>
#include <optional>

namespace tonbrix::cli {

namespace {

// Whose an option is in a chain: the whole run's, one plugin's, or another
// mode's (refused with --then).
enum class Role { run, plugin, refused };

struct OptionSpec {
    char short_name; // 0 for none
    std::string_view long_name; // empty for none
    bool takes_value;
    Role role;
};

// Every option of the processing run and of the other modes. -n is read
// by its value: a number is the channel count, anything else a plugin to
// list the ports of.
constexpr std::array<OptionSpec, 37> option_specs{{
    {'i', "", true, Role::run},
    {'o', "", true, Role::run},
    {'r', "rate", true, Role::run},
    {'n', "channels", true, Role::run},
    {'b', "blocksize", true, Role::run},
    {'j', "jobs", true, Role::run},
    {'q', "quiet", false, Role::run},
    {0, "ignore-clipping", false, Role::run},
    {0, "compensate-latency", false, Role::run},
    {0, "tail", true, Role::run},
    {0, "output-format", true, Role::run},
    {0, "report", false, Role::run},
    {0, "report-every", true, Role::run},
    {0, "json", false, Role::run},
    {0, "skip-existing", false, Role::run},
    {0, "dither", false, Role::run}, // its kind only after '='
    {0, "output-rate", true, Role::run},
    {0, "plugin-rate", true, Role::run},
    {0, "loudness", true, Role::run},
    {0, "true-peak", true, Role::run},
    {0, "measure-loudness", false, Role::run},
    {'p', "parameters", true, Role::plugin},
    {'P', "preset", true, Role::plugin},
    {'s', "set", true, Role::plugin},
    {'c', "connect", true, Role::plugin},
    {'m', "mono", false, Role::plugin},
    {0, "midi", true, Role::plugin},
    {0, "midi-out", true, Role::plugin},
    {0, "automate", true, Role::plugin},
    {0, "save-preset", true, Role::plugin},
    {0, "preset-dir", true, Role::run},
    {'l', "list", false, Role::refused},
    {'L', "list-presets", false, Role::refused},
    {0, "nameports", false, Role::refused},
    {'I', "info", true, Role::refused},
    {'h', "help", false, Role::refused},
    {'V', "version", false, Role::refused},
}};

const OptionSpec* short_option(char name)
{
    for (const OptionSpec& spec : option_specs) {
        if (spec.short_name == name) {
            return &spec;
        }
    }
    return nullptr;
}

// The long option a name stands for, as getopt_long finds it: the exact
// name, else the only one that the name begins; null for none or several.
const OptionSpec* long_option(std::string_view name)
{
    const OptionSpec* found = nullptr;
    for (const OptionSpec& spec : option_specs) {
        if (spec.long_name.empty() || !spec.long_name.starts_with(name) || name.empty()) {
            continue;
        }
        if (spec.long_name == name) {
            return &spec;
        }
        if (found != nullptr) {
            return nullptr;
        }
        found = &spec;
    }
    return found;
}

// The name of an option in messages: its long name where it has one.
std::string display_name(const OptionSpec& spec)
{
    return spec.long_name.empty() ? std::string{'-', spec.short_name}
                                  : "--" + std::string(spec.long_name);
}

// A -n value that is a channel count: it begins with a digit, after a sign.
bool looks_numeric(std::string_view value)
{
    if (!value.empty() && (value.front() == '+' || value.front() == '-')) {
        value.remove_prefix(1);
    }
    return !value.empty() && value.front() >= '0' && value.front() <= '9';
}

// One run option as it was given, to find repeats across segments.
struct RunOccurrence {
    const OptionSpec* spec;
    std::string value;
    std::size_t segment;
};

// Sorts the words of one segment; `last` tells whether --then follows.
class SegmentReader {
public:
    SegmentReader(std::vector<std::string_view> words, std::size_t index, bool last,
                  ChainCommandLine& chain, std::vector<RunOccurrence>& seen)
        : words_(std::move(words)), index_(index), last_(last), chain_(chain), seen_(seen)
    {
    }

    std::optional<Error> read()
    {
        ChainSegment segment;
        std::vector<std::string> plugins;
        bool options_ended = false;
        for (pos_ = 0; pos_ < words_.size(); ++pos_) {
            const std::string_view word = words_[pos_];
            std::optional<Error> error;
            if (options_ended || word == "-" || !word.starts_with('-')) {
                plugins.emplace_back(word);
            } else if (word == "--") {
                options_ended = true;
            } else if (word.starts_with("--")) {
                error = read_long(word, segment);
            } else {
                error = read_short(word, segment);
            }
            if (error) {
                return error;
            }
        }
        if (plugins.empty()) {
            return Error{"Error: part " + std::to_string(index_ + 1) +
                         " of the chain names no plugin; each part between --then words "
                         "names one.\n"};
        }
        if (plugins.size() > 1) {
            return Error{"Error: part " + std::to_string(index_ + 1) +
                         " of the chain names two plugins, '" + plugins[0] + "' and '" +
                         plugins[1] + "'; put --then between them.\n"};
        }
        segment.plugin = std::move(plugins.front());
        chain_.segments.push_back(std::move(segment));
        return std::nullopt;
    }

private:
    // The value in the next word; none at the segment's end.
    std::optional<std::string_view> next_value()
    {
        if (pos_ + 1 >= words_.size()) {
            return std::nullopt;
        }
        return words_[++pos_];
    }

    Error missing_value(std::string_view option) const
    {
        return Error{"Error: " + std::string(option) + " needs a value" +
                     (last_ ? "." : " before --then.") + "\n"};
    }

    static Error refused(std::string_view option)
    {
        return Error{"Error: " + std::string(option) +
                     " does not go with --then, which joins the plugins of a processing "
                     "run.\n"};
    }

    static Error nameports_refused(std::string_view value)
    {
        return Error{"Error: --nameports does not go with --then; in a chain -n gives the "
                     "channel count of raw input, and '" +
                     std::string(value) + "' is not a number.\n"};
    }

    std::optional<Error> read_long(std::string_view word, ChainSegment& segment)
    {
        const std::size_t equals = word.find('=');
        const std::string_view name = word.substr(2, equals == word.npos ? word.npos : equals - 2);
        const OptionSpec* spec = long_option(name);
        if (spec == nullptr) {
            // Unknown or ambiguous: argtable says so in the segment's parse.
            segment.options.emplace_back(word);
            return std::nullopt;
        }
        if (spec->role == Role::refused) {
            return refused(word.substr(0, equals));
        }
        std::vector<std::string> given{std::string(word)};
        std::string value;
        if (equals != word.npos) {
            value = word.substr(equals + 1);
        } else if (spec->takes_value) {
            const std::optional<std::string_view> next = next_value();
            if (!next) {
                return missing_value(word);
            }
            value = *next;
            given.emplace_back(*next);
        }
        return place(*spec, value, std::move(given), segment);
    }

    std::optional<Error> read_short(std::string_view word, ChainSegment& segment)
    {
        for (std::size_t at = 1; at < word.size(); ++at) {
            const OptionSpec* spec = short_option(word[at]);
            if (spec == nullptr) {
                // argtable names the unknown letter in the segment's parse. A
                // dash among the letters keeps its whole word, which cannot
                // then read as a long option.
                if (word[at] == '-') {
                    segment.options.emplace_back(word);
                } else {
                    std::string rest(1, '-');
                    rest.append(word.substr(at));
                    segment.options.push_back(std::move(rest));
                }
                return std::nullopt;
            }
            const std::string option{'-', word[at]};
            if (spec->role == Role::refused) {
                return refused(option);
            }
            if (!spec->takes_value) {
                if (std::optional<Error> error = place(*spec, "", {option}, segment)) {
                    return error;
                }
                continue;
            }
            // A value glued to its letter stays glued: the word could be
            // "-o--then", whose value must not stand as a word of its own.
            std::string_view value = word.substr(at + 1);
            std::vector<std::string> given{option + std::string(value)};
            if (value.empty()) {
                const std::optional<std::string_view> next = next_value();
                if (!next) {
                    return missing_value(option);
                }
                value = *next;
                given.emplace_back(value);
            }
            if (spec->short_name == 'n' && !looks_numeric(value)) {
                return nameports_refused(value);
            }
            return place(*spec, value, std::move(given), segment);
        }
        return std::nullopt;
    }

    // Puts an option's words with the run's or the segment's; a run option
    // given before in another segment is left out when it changes nothing.
    std::optional<Error> place(const OptionSpec& spec, std::string_view value,
                               std::vector<std::string> given, ChainSegment& segment)
    {
        std::vector<std::string>& target =
            spec.role == Role::run ? chain_.run_options : segment.options;
        if (spec.role == Role::run) {
            const auto earlier = std::find_if(seen_.begin(), seen_.end(), [&](const auto& seen) {
                return seen.spec == &spec && seen.segment != index_;
            });
            if (earlier != seen_.end()) {
                if (earlier->value == value) {
                    return std::nullopt;
                }
                return Error{"Error: " + display_name(spec) + " is given in parts " +
                             std::to_string(earlier->segment + 1) + " and " +
                             std::to_string(index_ + 1) + " of the chain with different values ('" +
                             earlier->value + "', '" + std::string(value) +
                             "'); it applies to the whole run: give it once.\n"};
            }
            seen_.push_back({&spec, std::string(value), index_});
        }
        target.insert(target.end(), std::make_move_iterator(given.begin()),
                      std::make_move_iterator(given.end()));
        return std::nullopt;
    }

    std::vector<std::string_view> words_;
    std::size_t index_;
    bool last_;
    ChainCommandLine& chain_;
    std::vector<RunOccurrence>& seen_;
    std::size_t pos_ = 0;
};

} // namespace

bool is_chain(const std::vector<std::string_view>& words)
{
    return std::find(words.begin(), words.end(), then_word) != words.end();
}

std::vector<std::string> segment_words(std::string_view program, const ChainCommandLine& chain,
                                       std::size_t segment)
{
    const ChainSegment& part = chain.segments[segment];
    std::vector<std::string> words{std::string(program)};
    words.insert(words.end(), chain.run_options.begin(), chain.run_options.end());
    words.insert(words.end(), part.options.begin(), part.options.end());
    if (part.plugin.starts_with('-')) {
        words.emplace_back("--");
    }
    words.push_back(part.plugin);
    return words;
}

Result<ChainCommandLine> split_chain(const std::vector<std::string_view>& words)
{
    if (!words.empty() && words.front() == then_word) {
        return Error{"Error: --then stands before the first plugin; it goes between two "
                     "plugins.\n"};
    }
    if (!words.empty() && words.back() == then_word) {
        return Error{"Error: --then stands after the last plugin; it goes between two "
                     "plugins.\n"};
    }
    std::vector<std::vector<std::string_view>> parts(1);
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i] != then_word) {
            parts.back().push_back(words[i]);
        } else if (i > 0 && words[i - 1] == then_word) {
            return Error{"Error: two --then words stand together; each part of the chain "
                         "between them names one plugin.\n"};
        } else {
            parts.emplace_back();
        }
    }
    ChainCommandLine chain;
    std::vector<RunOccurrence> seen;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        SegmentReader reader(std::move(parts[k]), k, k + 1 == parts.size(), chain, seen);
        if (std::optional<Error> error = reader.read()) {
            return *error;
        }
    }
    return chain;
}

} // namespace tonbrix::cli
