#include "io/counted_stream.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace tonbrix {

namespace {

CountedStream& stream_of(void* user)
{
    return *static_cast<CountedStream*>(user);
}

// The length is not known: libsndfile reads until a read gives nothing.
sf_count_t length(void*) noexcept
{
    return SF_COUNT_MAX;
}

// Only "stay where you are" can be done.
sf_count_t seek(sf_count_t offset, int whence, void* user) noexcept
{
    const auto position = static_cast<sf_count_t>(stream_of(user).bytes);
    if ((whence == SEEK_SET && offset == position) || (whence == SEEK_CUR && offset == 0)) {
        return position;
    }
    return -1;
}

// Reads until `count` bytes or the end of the stream.
sf_count_t read(void* buffer, sf_count_t count, void* user) noexcept
{
    CountedStream& stream = stream_of(user);
    sf_count_t got = 0;
    while (got < count) {
        const ssize_t n =
            ::read(stream.fd, static_cast<char*>(buffer) + got, static_cast<size_t>(count - got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += n;
    }
    stream.bytes += static_cast<uint64_t>(got);
    return got;
}

sf_count_t write(const void*, sf_count_t, void*) noexcept
{
    return 0;
}

sf_count_t tell(void* user) noexcept
{
    return static_cast<sf_count_t>(stream_of(user).bytes);
}

} // namespace

SF_VIRTUAL_IO counted_stream_io()
{
    return SF_VIRTUAL_IO{length, seek, read, write, tell};
}

} // namespace tonbrix
