#include "io/sound_files.h"


#include "io/memory_file.h"
#include "io/output_size.h"
#include "io/sound_errors.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace tonbrix {

namespace {

constexpr int raw_float_format = SF_ENDIAN_CPU | SF_FORMAT_RAW | SF_FORMAT_FLOAT;

bool is_segmented_flac(int format)
{
    return (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC &&
           (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
}

// The error libsndfile would give for writing this format, 0 when none.
int output_format_error(SF_INFO info)
{
    // A file in memory: libsndfile judges the format and channel count
    // before the real output path is created or truncated.
    SF_VIRTUAL_IO io = memory_file_io();
    MemoryFile device;
    SNDFILE* probe = sf_open_virtual(&io, SFM_WRITE, &info, &device);
    const int error = sf_error(probe);
    if (probe != nullptr) {
        sf_close(probe);
    }
    return error;
}

// Opens a path, or the descriptor `fd` for "-" in raw float mode or when
// the descriptor is the caller's own (closed with the file when
// `close_fd`). Returns libsndfile's error code; the file is open only when
// it is 0.
int open_sound(const std::string& path, bool raw, int fd, bool close_fd, int mode,
               SF_INFO& info, SoundFile& file)
{
    if (path == "-" && (raw || close_fd)) {
        file.handle = sf_open_fd(fd, mode, &info, close_fd ? SF_TRUE : SF_FALSE);
        if (file.handle == nullptr && close_fd) {
            ::close(fd);
        }
    } else {
        file.handle = sf_open(path.c_str(), mode, &info);
    }
    const int error = sf_error(file.handle);
    if (error != 0 && file.handle != nullptr) {
        sf_close(file.handle);
        file.handle = nullptr;
    }
    return error;
}

// Why libsndfile could not open the input path when it failed with a
// system error: the errno of opening it again (a folder is EISDIR); 0 when
// the reason cannot be told.
int input_open_reason(const SoundFileSettings& settings, int error)
{
    if (error != SF_ERR_SYSTEM || (settings.raw && settings.input == "-")) {
        return 0;
    }
    const int fd = ::open(settings.input.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    struct stat st {};
    const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    return folder ? EISDIR : 0;
}

// Opens the output on `fd` (which stays the caller's): through the checked
// descriptor when it can seek, else with libsndfile's own descriptor I/O,
// which knows that a pipe cannot go back to a header. Returns libsndfile's
// error code; the file is open only when it is 0.
int open_written_output(int fd, SF_INFO& info, SoundFile& output)
{
    if (descriptor_seeks(fd)) {
        output.written.fd = fd;
        SF_VIRTUAL_IO io = checked_descriptor_io();
        output.handle = sf_open_virtual(&io, SFM_WRITE, &info, &output.written);
    } else {
        output.handle = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    }
    const int error = sf_error(output.handle);
    if (error != 0 && output.handle != nullptr) {
        sf_close(output.handle);
        output.handle = nullptr;
    }
    return error;
}

} // namespace

bool is_integer_format(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
        return false;
    default:
        return true;
    }
}

Status open_input_file(const SoundFileSettings& settings, SoundFile& input, SF_INFO& info)
{
    info.format = 0;
    if (settings.raw) {
        info = SF_INFO{};
        info.format = raw_float_format;
        info.samplerate = settings.rate;
        info.channels = settings.channels;
    }
    struct stat st {};
    int error = 0;
    if (settings.raw && settings.input == "-" && ::fstat(STDIN_FILENO, &st) == 0 &&
        !S_ISREG(st.st_mode)) {
        // A pipe: read through a counter, so that a partial frame at its
        // end can be told. It cannot seek, whatever libsndfile assumes.
        input.counted = true;
        input.stream.fd = STDIN_FILENO;
        SF_VIRTUAL_IO io = counted_stream_io();
        input.handle = sf_open_virtual(&io, SFM_READ, &info, &input.stream);
        error = sf_error(input.handle);
        if (error != 0 && input.handle != nullptr) {
            sf_close(input.handle);
            input.handle = nullptr;
        }
        info.seekable = 0;
    } else {
        error = open_sound(settings.input, settings.raw, STDIN_FILENO, false, SFM_READ, info,
                           input);
    }
    if (error != 0) {
        std::string message = "Error reading input file: " + sound_error_text(error) + "\n";
        if (const int reason = input_open_reason(settings, error); reason != 0) {
            message += reason_line(settings.input, reason);
        }
        return Error{message};
    }
    return {};
}

uint64_t raw_input_leftover(const SoundFileSettings& settings, const SoundFile& input)
{
    if (!settings.raw || settings.channels < 1) {
        return 0;
    }
    const uint64_t frame_bytes = static_cast<uint64_t>(settings.channels) * sizeof(float);
    if (input.counted) {
        return input.stream.bytes % frame_bytes;
    }
    struct stat st {};
    const int result = settings.input == "-" ? ::fstat(STDIN_FILENO, &st)
                                             : ::stat(settings.input.c_str(), &st);
    if (result != 0 || !S_ISREG(st.st_mode)) {
        return 0;
    }
    return static_cast<uint64_t>(st.st_size) % frame_bytes;
}

Status open_output_file(const SoundFileSettings& settings, SF_INFO info, int channels,
                      SoundFile& output)
{
    info.channels = channels;
    if (settings.format != 0) {
        info.format = settings.format;
    }
    const std::string first_line = "Error reading output file: ";
    // A format or channel count that cannot be written is refused before
    // the path is touched, so an existing file there is not truncated.
    if (const int error = output_format_error(info); error != 0) {
        if (settings.output_fd >= 0) {
            ::close(settings.output_fd);
        }
        return Error{first_line + sound_error_text(error) + "\n"};
    }
    output.name = settings.output;
    int error = 0;
    if (settings.output == "-") {
        // Standard output, or the descriptor the caller keeps for the audio
        // while plugins' own text goes elsewhere.
        const bool own = settings.output_fd >= 0;
        error = open_sound(settings.output, true, own ? settings.output_fd : STDOUT_FILENO, own,
                           SFM_WRITE, info, output);
    } else if (begin_atomic_output(settings.output, output.atomic)) {
        output.format = info.format;
        if (settings.segmented_flac && is_segmented_flac(info.format)) {
            output.segmented_flac = true;
            output.encoder_info = info;
            output.encoder_strings = settings.strings;
            return {};
        }
        error = open_written_output(output.atomic.fd, info, output);
        if (error != 0) {
            discard_atomic_output(output.atomic);
        }
    } else {
        // In place, with the flags libsndfile's own open uses.
        output.in_place_fd =
            ::open(settings.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (output.in_place_fd < 0) {
            return Error{first_line + sound_error_text(SF_ERR_SYSTEM) + "\n" +
                         reason_line(settings.output, errno)};
        }
        error = open_written_output(output.in_place_fd, info, output);
    }
    if (error != 0) {
        std::string message = first_line + sound_error_text(error) + "\n";
        if (output.written.error != 0) {
            message += reason_line(settings.output, output.written.error);
        }
        return Error{message};
    }
    output.format = info.format;
    if (settings.rf64_auto_downgrade) {
        sf_command(output.handle, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    }
    write_sound_strings(output.handle, settings.strings);
    // Without this, libsndfile wraps samples beyond full scale around when
    // it converts them to integers.
    if (is_integer_format(info.format)) {
        sf_command(output.handle, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    }
    return {};
}

Status close_output_file(SoundFile& output, bool complete)
{
    // libsndfile begins a FLAC stream at the first write: an output with
    // no frames would otherwise be an empty file that no decoder opens.
    if (complete && output.handle != nullptr &&
        (output.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC) {
        sf_command(output.handle, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    }
    Status closed = close_sound_file(output);
    // Encoders write their last pages at the close: a failure there counts
    // as a failed write, and so does a failed close of our descriptor.
    int failed_write = output.written.error;
    if (output.in_place_fd >= 0) {
        const int fd = output.in_place_fd;
        output.in_place_fd = -1;
        if (::close(fd) != 0 && failed_write == 0) {
            failed_write = errno;
        }
    }
    if (failed_write != 0) {
        discard_atomic_output(output.atomic);
        if (!complete) {
            return {};
        }
        return write_error(output.name, failed_write);
    }
    if (!closed || !complete) {
        discard_atomic_output(output.atomic);
        return closed;
    }
    if (!commit_atomic_output(output.atomic)) {
        return write_error(output.name, errno);
    }
    return {};
}

bool output_written_as_rf64(SoundFile& output)
{
    if (output.handle == nullptr) {
        return false;
    }
    const sf_count_t frames = sf_seek(output.handle, 0, SEEK_CUR | SFM_WRITE);
    SF_INFO info{};
    sf_command(output.handle, SFC_GET_CURRENT_SF_INFO, &info, sizeof info);
    const int wav_format = (output.format & ~SF_FORMAT_TYPEMASK) | SF_FORMAT_WAV;
    return frames > 0 &&
           fit_output_size(wav_format, info.channels, static_cast<uint64_t>(frames)) !=
               SizeFit::fits;
}

Status close_input_file(SoundFile& input)
{
    return close_sound_file(input);
}

bool same_existing_file(const std::string& a, const std::string& b)
{
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
        return false;
    }
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace tonbrix
