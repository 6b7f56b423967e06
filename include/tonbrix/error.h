#pragma once

#include <string>

namespace tonbrix {

// What went wrong, as the whole line a user reads (without its newline).
struct Error {
    std::string message;
};

// The error of work that cannot have the memory it needs.
inline Error insufficient_memory()
{
    return Error{"Error: insufficient memory"};
}

} // namespace tonbrix
