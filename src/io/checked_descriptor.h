#pragma once

#include <sndfile.h>

namespace tonbrix {

// A file descriptor that libsndfile writes through its virtual I/O. Every
// write, seek and read goes to the descriptor, and the first one that fails
// keeps its errno here, so that a failure an encoder does not pass back
// (Ogg's writers ignore short writes) still fails the run. Pass the
// CheckedDescriptor as the user data of checked_descriptor_io(); the
// descriptor stays the caller's.
struct CheckedDescriptor {
    int fd = -1;
    int error = 0; // errno of the first failed call; 0 while none failed
};

SF_VIRTUAL_IO checked_descriptor_io();

// True when the descriptor can seek (a regular file, a block device,
// /dev/null or /dev/full), so that libsndfile may go back and rewrite a
// header through checked_descriptor_io(). Pipes, FIFOs, sockets and
// terminals cannot.
bool descriptor_seeks(int fd);

} // namespace tonbrix
