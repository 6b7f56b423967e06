#pragma once

#include <sndfile.h>

#include <cstdint>

namespace tonbrix {

// A stream that cannot seek (a pipe on standard input) read through
// libsndfile's virtual I/O, counting the bytes it gives: what libsndfile
// drops of a partial frame at the end can then be told. Pass the
// CountedStream as the user data of counted_stream_io().
struct CountedStream {
    int fd = -1;
    uint64_t bytes = 0; // read so far
};

SF_VIRTUAL_IO counted_stream_io();

} // namespace tonbrix
