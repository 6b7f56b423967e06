#pragma once

#include <tonbrix/export.h>

#include <tonbrix/error.h>
#include <tonbrix/render.h>

#include <memory>
#include <string>
#include <string_view>

namespace tonbrix {

// How a sound file stores its audio: the rate and libsndfile's format code.
struct SoundFormat {
    int sample_rate = 0;
    int format = 0;
};

// What --output-format asks for: a container type, an encoding, or both.
// Both are libsndfile constants; 0 marks a part left out, which comes from
// the input.
struct OutputFormatRequest {
    std::string text; // as given, for the messages
    int type = 0;     // SF_FORMAT_WAV, SF_FORMAT_FLAC, ...
    int encoding = 0; // SF_FORMAT_PCM_16, SF_FORMAT_FLOAT, ...
};

// Reads "TYPE", "TYPE:ENCODING" or ":ENCODING" (names in any case, e.g.
// "flac:pcm_16"); the message of an unknown name or a pair that cannot be
// written together.
TONBRIX_API Result<OutputFormatRequest> parse_output_format(std::string_view text);

// The version of libsndfile in use, as it gives it: "libsndfile-X.Y.Z".
TONBRIX_API std::string sndfile_version();

struct SoundFileSource {
    std::unique_ptr<Source> source;
    SoundFormat format;
};

// Opens a sound file of any format libsndfile reads, as a render's source.
TONBRIX_API Result<SoundFileSource> open_sound_file(const std::string& path);

// A sink that writes the render's channels to a new file at `path` in
// `format`. The file takes the path's place only when the render finishes;
// otherwise nothing is left behind.
TONBRIX_API Result<std::unique_ptr<Sink>> create_sound_file(const std::string& path, SoundFormat format);

} // namespace tonbrix
