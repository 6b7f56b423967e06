#pragma once

#include <sys/types.h>

#include <string>

namespace tonbrix {

// A file written under a temporary name next to its final path and renamed
// over that path once it is complete, so that a run that fails or is
// stopped leaves the old file (or no file) there. The temporary file is
// removed when the owner goes out of scope without a commit.
struct AtomicOutput {
    std::string target; // the path that the commit replaces (symbolic links resolved)
    std::string temp;   // the temporary file; empty when writing in place
    int fd = -1;        // open for writing on `temp`
    mode_t mode = 0;    // the permission bits the file gets at the commit
    bool replaces = false; // an existing file is at the target: its owner is kept if allowed
    uid_t owner = 0;
    gid_t group = 0;

    AtomicOutput() = default;
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;
    ~AtomicOutput() { discard_atomic_output(*this); }

    // Closes and removes the temporary file, if any.
    friend void discard_atomic_output(AtomicOutput& output) noexcept;
};

// Creates the temporary file for `path` when the path names a regular file
// or nothing yet (through symbolic links) and its folder takes a new file
// that only the owner can read. False, with `output` untouched, when the
// file is to be written in place: "-", a FIFO or device, a file without
// write permission, a dangling link, or a folder that refuses the file.
bool begin_atomic_output(const std::string& path, AtomicOutput& output);

// Flushes the temporary file to disk, gives it its permission bits and
// renames it over the target. On failure it is removed, errno tells why,
// and false is returned.
bool commit_atomic_output(AtomicOutput& output);

} // namespace tonbrix
