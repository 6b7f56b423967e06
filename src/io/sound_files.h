#pragma once

#include "io/atomic_output.h"

#include <tonbrix/error.h>

#include <sndfile.h>

#include <string>

namespace tonbrix {

// An open sound file that is closed when it goes out of scope (on a path
// that has failed already, so a failing close goes unreported there). An output written under a temporary name is removed
// then, unless close_output_file committed it.
struct SoundFile {
    SNDFILE* handle = nullptr;
    // A 16-bit FLAC output left to the segment encoder: `handle` stays
    // null and the stream of `encoder_info` goes to the temporary file.
    bool segmented_flac = false;
    SF_INFO encoder_info{};
    const char* close_error = "";
    AtomicOutput atomic; // released after the handle is closed

    explicit SoundFile(const char* close_message) : close_error(close_message) {}
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;
    ~SoundFile() { static_cast<void>(close_sound_file(*this)); }

    // Closes an open file; its close message when the close fails. A file
    // that is not open is left alone.
    friend Status close_sound_file(SoundFile& file)
    {
        if (file.handle == nullptr) {
            return {};
        }
        const int result = sf_close(file.handle);
        file.handle = nullptr;
        if (result != 0) {
            return Error{file.close_error};
        }
        return {};
    }
};

// Where the audio comes from and goes to. In raw float mode both files are
// headerless native floats of `rate` and `channels`, and "-" names the
// standard streams.
struct SoundFileSettings {
    std::string input;
    std::string output;
    bool raw = false;
    int rate = 0;
    int channels = 0;
    int format = 0; // the output's libsndfile format; 0: the input's
    // A 16-bit FLAC output written to a new file may be encoded in
    // segments on several threads (the bytes are the same).
    bool segmented_flac = false;
};

inline constexpr const char* output_close_error = "Error closing output file!\n";
inline constexpr const char* input_close_error = "Error closing input file!\n";

// Opens the input by its header, or as headerless floats in raw float mode
// ("-" is standard input there). Fills `info`.
Status open_input_file(const SoundFileSettings& settings, SoundFile& input, SF_INFO& info);

// Opens the output with the settings' format (else the input's), the
// input's rate and `channels` channels ("-" is standard output in raw float
// mode).
Status open_output_file(const SoundFileSettings& settings, SF_INFO info, int channels,
                      SoundFile& output);

// Closes the output. When `complete` and the close succeeded, a file
// written under a temporary name replaces the output path; otherwise the
// temporary file is removed. The message of a failure otherwise.
Status close_output_file(SoundFile& output, bool complete);
Status close_input_file(SoundFile& input);

// True when libsndfile stores the format's samples as integers (it then
// converts floats, with clipping turned on for our outputs).
bool is_integer_format(int format);

// True when both paths name one existing file.
bool same_existing_file(const std::string& a, const std::string& b);

} // namespace tonbrix
