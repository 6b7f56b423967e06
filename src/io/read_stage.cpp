#include "io/read_stage.h"

#include <string>

namespace tonbrix {

ReadOutcome read_chunk(SNDFILE* input, float* buffer, std::size_t frames)
{
    const sf_count_t n = sf_readf_float(input, buffer, static_cast<sf_count_t>(frames));
    if (n <= 0) {
        return {0, sf_error(input)};
    }
    const auto got = static_cast<std::size_t>(n);
    return {got, got < frames ? sf_error(input) : 0};
}

ReadOutcome read_chunk(SNDFILE* input, int16_t* buffer, std::size_t frames)
{
    const sf_count_t n = sf_readf_short(input, buffer, static_cast<sf_count_t>(frames));
    if (n <= 0) {
        return {0, sf_error(input)};
    }
    const auto got = static_cast<std::size_t>(n);
    return {got, got < frames ? sf_error(input) : 0};
}

Error read_error(int error)
{
    return Error{std::string("Error reading input file: ") + sf_error_number(error) + "\n"};
}

} // namespace tonbrix
