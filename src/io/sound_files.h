#pragma once

#include "io/atomic_output.h"
#include "io/checked_descriptor.h"
#include "io/counted_stream.h"
#include "io/sound_strings.h"

#include <tonbrix/error.h>

#include <sndfile.h>

#include <string>

#include <unistd.h>

namespace tonbrix {

// An open sound file that is closed when it goes out of scope (on a path
// that has failed already, so a failing close goes unreported there). An
// output written under a temporary name is removed then, unless
// close_output_file committed it.
struct SoundFile {
    SNDFILE* handle = nullptr;
    // A 16-bit FLAC output left to the segment encoder: `handle` stays
    // null and the stream of `encoder_info` goes to the temporary file.
    bool segmented_flac = false;
    SF_INFO encoder_info{};
    SoundStrings encoder_strings;
    const char* close_error = "";
    int format = 0; // libsndfile's format of an open output
    // Raw floats from a stream that cannot seek, read through this.
    bool counted = false;
    CountedStream stream;
    // An output that can seek is written through this, which keeps the
    // first failed write whatever the encoder makes of it; fd -1 otherwise.
    CheckedDescriptor written;
    int in_place_fd = -1; // our descriptor of an output written in place
    std::string name;     // the path as given, for messages
    AtomicOutput atomic;  // released after the handle is closed

    explicit SoundFile(const char* close_message) : close_error(close_message) {}
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;
    ~SoundFile()
    {
        static_cast<void>(close_sound_file(*this));
        if (in_place_fd >= 0) {
            ::close(in_place_fd);
        }
    }

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
    SoundStrings strings; // the output's title, artist, ...
    // An RF64 output that libsndfile writes as WAV when it fits.
    bool rf64_auto_downgrade = false;
    // Output "-": the descriptor the audio goes to, closed with the file
    // (or when the output cannot be opened); -1: standard output.
    int output_fd = -1;
};

inline constexpr const char* output_close_error = "Error closing output file!\n";
inline constexpr const char* input_close_error = "Error closing input file!\n";

// Opens the input by its header, or as headerless floats in raw float mode
// ("-" is standard input there). Fills `info`. A failure's message is
// libsndfile's line, followed by the path and the system's reason when the
// file cannot be opened.
Status open_input_file(const SoundFileSettings& settings, SoundFile& input, SF_INFO& info);

// The bytes of a partial frame at the end of a raw float input that was
// read to its end (libsndfile leaves them out); 0 for other inputs.
uint64_t raw_input_leftover(const SoundFileSettings& settings, const SoundFile& input);

// Opens the output with the settings' format (else the input's), the
// input's rate and `channels` channels ("-" is standard output in raw float
// mode). An output that can seek is written through a CheckedDescriptor.
// A failure's message is libsndfile's line, followed by the path and the
// system's reason when the path cannot be opened or written.
Status open_output_file(const SoundFileSettings& settings, SF_INFO info, int channels,
                      SoundFile& output);

// Closes the output. When `complete`, the close succeeded and no write
// failed, a file written under a temporary name replaces the output path;
// otherwise the temporary file is removed. The message of a failure
// otherwise (a failed write of an incomplete run was told already).
Status close_output_file(SoundFile& output, bool complete);
Status close_input_file(SoundFile& input);

// True when an output opened with rf64_auto_downgrade has grown too long
// for WAV, so that it stays RF64.
bool output_written_as_rf64(SoundFile& output);

// True when libsndfile stores the format's samples as integers (it then
// converts floats, with clipping turned on for our outputs).
bool is_integer_format(int format);

// True when both paths name one existing file.
bool same_existing_file(const std::string& a, const std::string& b);

} // namespace tonbrix
