#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

namespace tonbrix {

// A text libsndfile keeps with a sound file: title, artist, album, ...
struct SoundString {
    int kind = 0; // SF_STR_TITLE, SF_STR_ARTIST, ...
    std::string text;
};

using SoundStrings = std::vector<SoundString>;

// Every string libsndfile read from an open file, in the order of their
// kinds; none for a file without them.
SoundStrings read_sound_strings(SNDFILE* file);

// Gives an output opened for writing, before its first frame, every string
// its type can hold; a string the type cannot hold is left out, as it is
// no fault of the run.
void write_sound_strings(SNDFILE* file, const SoundStrings& strings);

} // namespace tonbrix
