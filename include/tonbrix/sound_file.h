#pragma once

#include <tonbrix/export.h>

#include <tonbrix/error.h>
#include <tonbrix/render.h>

#include <memory>
#include <string>

namespace tonbrix {

// How a sound file stores its audio: the rate and libsndfile's format code.
struct SoundFormat {
    int sample_rate = 0;
    int format = 0;
};

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
