#include "io/sound_strings.h"

namespace tonbrix {

SoundStrings read_sound_strings(SNDFILE* file)
{
    SoundStrings strings;
    for (int kind = SF_STR_FIRST; kind <= SF_STR_LAST; ++kind) {
        const char* text = sf_get_string(file, kind);
        if (text != nullptr && *text != '\0') {
            strings.push_back({kind, text});
        }
    }
    return strings;
}

void write_sound_strings(SNDFILE* file, const SoundStrings& strings)
{
    for (const SoundString& string : strings) {
        // A refusal only means that this type has no room for this kind.
        sf_set_string(file, string.kind, string.text.c_str());
    }
}

} // namespace tonbrix
