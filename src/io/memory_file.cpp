#include "io/memory_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace tonbrix {

namespace {

MemoryFile& file_of(void* data)
{
    return *static_cast<MemoryFile*>(data);
}

sf_count_t memory_length(void* data)
{
    return static_cast<sf_count_t>(file_of(data).bytes.size());
}

sf_count_t memory_seek(sf_count_t offset, int whence, void* data)
{
    MemoryFile& file = file_of(data);
    const sf_count_t base = whence == SEEK_SET   ? 0
                            : whence == SEEK_CUR ? file.position
                                                 : memory_length(data);
    if (base + offset < 0) {
        return -1;
    }
    file.position = base + offset;
    return file.position;
}

sf_count_t memory_read(void* destination, sf_count_t count, void* data)
{
    MemoryFile& file = file_of(data);
    const sf_count_t size = memory_length(data);
    if (count <= 0 || file.position >= size) {
        return 0;
    }
    const sf_count_t n = std::min(count, size - file.position);
    std::memcpy(destination, file.bytes.data() + file.position, static_cast<std::size_t>(n));
    file.position += n;
    return n;
}

sf_count_t memory_write(const void* source, sf_count_t count, void* data)
{
    MemoryFile& file = file_of(data);
    if (count <= 0) {
        return 0;
    }
    const auto at = static_cast<std::size_t>(file.position);
    const auto n = static_cast<std::size_t>(count);
    if (at > file.limit || n > file.limit - at) {
        return 0;
    }
    const auto* bytes = static_cast<const uint8_t*>(source);
    try {
        if (file.write_starts != nullptr) {
            file.write_starts->push_back(at);
        }
        if (at == file.bytes.size()) {
            file.bytes.insert(file.bytes.end(), bytes, bytes + n);
        } else {
            if (file.bytes.size() < at + n) {
                file.bytes.resize(at + n);
            }
            std::memcpy(file.bytes.data() + at, bytes, n);
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    file.position += count;
    return count;
}

sf_count_t memory_tell(void* data)
{
    return file_of(data).position;
}

} // namespace

SF_VIRTUAL_IO memory_file_io()
{
    return SF_VIRTUAL_IO{memory_length, memory_seek, memory_read, memory_write, memory_tell};
}

} // namespace tonbrix
