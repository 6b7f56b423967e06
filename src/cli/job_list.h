#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix::cli {

// One job of a batch: an input, its output, and the option values that act
// as if they stood at the end of the command line.
struct Job {
    std::string input;
    std::string output;
    std::vector<std::string> parameters; // "symbol:value" items, after those of -p
    bool has_preset = false;             // `preset` replaces -P
    std::string preset;
    std::vector<std::string> set_values; // "parameter=value", after those of --set
    std::size_t line = 0;                // the job list's line number; 0 for a folder's file
    std::string error;                   // the whole message of a line that cannot be read
};

enum class JobLine { skipped, job, unreadable };

// Reads one line of a job list (without its newline): `INPUT<TAB>OUTPUT`,
// or a JSON object with "input", "output" and optionally "parameters"
// (symbol to number), "preset" (a label) and "set" (parameter to value).
// Blank lines and lines starting with '#' are skipped. An unreadable line
// leaves its message, which names `line_number`, in `job.error`.
JobLine parse_job_line(std::string_view text, std::size_t line_number, Job& job);

// Reads a whole job list; every line that is not skipped gives one job,
// the unreadable ones with their error set.
std::vector<Job> parse_job_list(std::string_view text);

} // namespace tonbrix::cli
