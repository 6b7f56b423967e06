#pragma once

#include <tonbrix/error.h>

#include <sndfile.h>

#include <string>

namespace tonbrix {

// libsndfile's text for an error code. libsndfile prints "Not a valid error
// number" on standard output for codes it does not define (an encoder that
// fails sets -1): those get a text of ours here, and nothing is printed.
std::string sound_error_text(int code);

// The text of the last error on an open file, as sf_strerror gives it
// ("System error : No space left on device."), without printing anything.
std::string sound_file_error_text(SNDFILE* file);

// The line that names a file and the operating system's reason for a
// failure: "PATH: REASON.\n" with strerror's text.
std::string reason_line(const std::string& path, int error);

// The message of a write to the output `name` that failed with `error` (an
// errno): "Error writing output file: NAME: REASON.\n".
Error write_error(const std::string& name, int error);

} // namespace tonbrix
