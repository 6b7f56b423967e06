#pragma once

#include <tonbrix/batch.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

using Job = BatchJob;

enum class JobLine { skipped, job, unreadable };

// Reads one line of a job list (without its newline): `INPUT<TAB>OUTPUT`,
// or a JSON object with "input", "output" and optionally "parameters"
// (symbol to number), "preset" (a label) and "set" (parameter to value).
// Blank lines and lines starting with '#' are skipped. An unreadable line
// leaves its message, which names `line_number`, in `job.error`.
JobLine parse_job_line(std::string_view text, std::size_t line_number, Job& job);


} // namespace tonbrix
