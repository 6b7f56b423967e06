#pragma once

#include <cstdint>
#include <string_view>

namespace tonbrix::cli {

// The largest --blocksize: larger blocks only cost memory, and buffers of
// that many frames for every port would exhaust it.
inline constexpr int32_t max_block_size = 1048576;

// Reads a --tail value: a decimal number of seconds, finite and at least 0.
bool parse_tail_seconds(std::string_view text, double& seconds);

// Reads a --jobs value: a whole decimal number of at least 1.
bool parse_jobs(std::string_view text, int& jobs);

} // namespace tonbrix::cli
