#pragma once

#include <sndfile.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace tonbrix {

// A file in memory for libsndfile's virtual I/O: reads, writes anywhere
// (growing the file), seeks. Pass the MemoryFile as the user data of
// memory_file_io().
struct MemoryFile {
    std::vector<uint8_t> bytes;
    sf_count_t position = 0;
    // Writes that would make the file longer than this fail.
    std::size_t limit = std::numeric_limits<std::size_t>::max();
    // When set, the offset where each write began is appended here.
    std::vector<std::size_t>* write_starts = nullptr;
};

SF_VIRTUAL_IO memory_file_io();

} // namespace tonbrix
