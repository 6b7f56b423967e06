#pragma once

#include <cstdint>
#include <string_view>

namespace tonbrix::cli {

// Reads a --tail value: a decimal number of seconds, finite and at least 0.
bool parse_tail_seconds(std::string_view text, double& seconds);

// Reads a --jobs value: a whole decimal number of at least 1.
bool parse_jobs(std::string_view text, int& jobs);

} // namespace tonbrix::cli
