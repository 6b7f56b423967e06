#pragma once

#include <string>

namespace tonbrix {

// What went wrong, as the whole line a user reads (without its newline).
struct Error {
    std::string message;
};

} // namespace tonbrix
