#pragma once

#include <cstdio>

namespace tonbrix::cli {

// What the command line asks for before any mode: the help text, the
// versions, or neither (then the modes are parsed as usual).
enum class InfoRequest { none, help, version };

// Looks for -h/--help and -V/--version among the arguments. Help wins over
// everything, also over the version. The values of options that take one
// are skipped, and a bare "--" ends the options.
InfoRequest find_info_request(int argc, char** argv);

// The help text (synopsis, every option, examples), on `stream`.
void print_help(std::FILE* stream);

// "tonbrix X.Y.Z", then the lilv and libsndfile versions, on `stream`.
void print_version(std::FILE* stream);

} // namespace tonbrix::cli
