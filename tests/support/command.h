#pragma once

#include <string>
#include <utility>
#include <vector>

// What a finished command left: its exit status and both streams.
struct CommandResult {
    int status = -1; // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

struct CommandSpec {
    std::vector<std::string> args;                         // argv[1...]
    std::vector<std::pair<std::string, std::string>> env;  // added or replaced
    std::string stdin_data;                                // fed on standard input
    std::vector<std::string> prefix;                       // e.g. a wrapper like valgrind
    bool stderr_on_terminal = false; // standard error is a pseudo-terminal (raw mode)
};

// Runs `program` with these arguments and environment and waits for it.
CommandResult run_command(const std::string& program, const CommandSpec& spec);
