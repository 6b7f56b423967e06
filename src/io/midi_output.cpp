#include "io/midi_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tonbrix {

namespace {

// Writes all of `bytes` to `fd`; false with errno set otherwise.
bool write_all(int fd, std::span<const std::uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

Error MidiOutput::failure(int error) const
{
    return Error{"Error: cannot write the MIDI file '" + path_ + "': " + std::strerror(error) +
                 ".\n"};
}

Status MidiOutput::open()
{
    if (begin_atomic_output(path_, atomic_)) {
        return {};
    }
    // No temporary file (a device, a FIFO, a folder that takes no new
    // file): the path must be there and writable, or else its folder must
    // take a new file; the reason of the one that refuses is told.
    if (::access(path_.c_str(), W_OK) != 0) {
        if (errno != ENOENT) {
            return failure(errno);
        }
        const std::size_t slash = path_.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : path_.substr(0, slash);
        if (::access(folder.c_str(), W_OK | X_OK) != 0) {
            return failure(errno);
        }
    }
    in_place_ = true;
    return {};
}

Status MidiOutput::commit(std::span<const std::uint8_t> bytes)
{
    if (!in_place_) {
        if (!write_all(atomic_.fd, bytes)) {
            const int error = errno;
            discard_atomic_output(atomic_);
            return failure(error);
        }
        if (!commit_atomic_output(atomic_)) {
            return failure(errno);
        }
        return {};
    }
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return failure(errno);
    }
    const bool written = write_all(fd, bytes);
    const int error = errno;
    if (::close(fd) != 0 && written) {
        return failure(errno);
    }
    return written ? Status{} : Status{failure(error)};
}

} // namespace tonbrix
