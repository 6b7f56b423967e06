#include "io/checked_descriptor.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tonbrix {

namespace {

CheckedDescriptor& descriptor_of(void* user)
{
    return *static_cast<CheckedDescriptor*>(user);
}

// Keeps the first failure's errno (EIO when the call set none).
void keep_error(CheckedDescriptor& descriptor, int error) noexcept
{
    if (descriptor.error == 0) {
        descriptor.error = error != 0 ? error : EIO;
    }
}

sf_count_t length(void* user) noexcept
{
    struct stat st {};
    if (::fstat(descriptor_of(user).fd, &st) != 0) {
        return -1;
    }
    return static_cast<sf_count_t>(st.st_size);
}

sf_count_t seek(sf_count_t offset, int whence, void* user) noexcept
{
    CheckedDescriptor& descriptor = descriptor_of(user);
    const off_t position = ::lseek(descriptor.fd, static_cast<off_t>(offset), whence);
    if (position < 0) {
        keep_error(descriptor, errno);
        return -1;
    }
    return static_cast<sf_count_t>(position);
}

// Reads until `count` bytes or the end of the file.
sf_count_t read(void* buffer, sf_count_t count, void* user) noexcept
{
    CheckedDescriptor& descriptor = descriptor_of(user);
    sf_count_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(descriptor.fd, static_cast<char*>(buffer) + done,
                                 static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            keep_error(descriptor, errno);
        }
        if (n <= 0) {
            break;
        }
        done += n;
    }
    return done;
}

// Writes all `count` bytes; fewer only after a failure, which is kept.
sf_count_t write(const void* buffer, sf_count_t count, void* user) noexcept
{
    CheckedDescriptor& descriptor = descriptor_of(user);
    sf_count_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(descriptor.fd, static_cast<const char*>(buffer) + done,
                                  static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            keep_error(descriptor, n < 0 ? errno : 0);
            break;
        }
        done += n;
    }
    return done;
}

sf_count_t tell(void* user) noexcept
{
    return seek(0, SEEK_CUR, user);
}

} // namespace

SF_VIRTUAL_IO checked_descriptor_io()
{
    return SF_VIRTUAL_IO{length, seek, read, write, tell};
}

bool descriptor_seeks(int fd)
{
    return ::lseek(fd, 0, SEEK_CUR) >= 0;
}

} // namespace tonbrix
