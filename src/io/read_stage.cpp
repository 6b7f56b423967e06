#include "io/read_stage.h"

#include "io/sound_errors.h"

#include <string>

namespace tonbrix {

namespace {

// What a read of `n` frames, of `frames` asked for, gave.
ReadOutcome outcome_of(SNDFILE* input, sf_count_t n, std::size_t frames)
{
    if (n <= 0) {
        return {0, sf_error(input)};
    }
    const auto got = static_cast<std::size_t>(n);
    return {got, got < frames ? sf_error(input) : 0};
}

} // namespace

ReadOutcome read_chunk(SNDFILE* input, float* buffer, std::size_t frames)
{
    return outcome_of(input, sf_readf_float(input, buffer, static_cast<sf_count_t>(frames)),
                      frames);
}

ReadOutcome read_chunk(SNDFILE* input, int16_t* buffer, std::size_t frames)
{
    return outcome_of(input, sf_readf_short(input, buffer, static_cast<sf_count_t>(frames)),
                      frames);
}

Error read_error(int error)
{
    return Error{"Error reading input file: " + sound_error_text(error) + "\n"};
}

} // namespace tonbrix
