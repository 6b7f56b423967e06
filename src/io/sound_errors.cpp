#include "io/sound_errors.h"

#include <cstring>

namespace tonbrix {

namespace {

// The largest code libsndfile defines: the one whose text is that of code
// 0 ("No Error."), which is where its table ends. Codes up to it are looked
// up without a word on standard output.
int largest_error_code()
{
    static const int largest = [] {
        const char* none = sf_error_number(0);
        for (int code = 1; code < 100000; ++code) {
            if (sf_error_number(code) == none) {
                return code;
            }
        }
        return 0;
    }();
    return largest;
}

} // namespace

std::string sound_error_text(int code)
{
    if (code < 0 || code > largest_error_code()) {
        return "The encoder failed without naming the error (libsndfile error " +
               std::to_string(code) + ").";
    }
    return sf_error_number(code);
}

std::string sound_file_error_text(SNDFILE* file)
{
    const int code = sf_error(file);
    // A system error's text is the one with strerror's reason in it.
    if (code == SF_ERR_SYSTEM) {
        return sf_strerror(file);
    }
    return sound_error_text(code);
}

std::string reason_line(const std::string& path, int error)
{
    return path + ": " + std::strerror(error) + ".\n";
}

Error write_error(const std::string& name, int error)
{
    return Error{"Error writing output file: " + reason_line(name, error)};
}

} // namespace tonbrix
