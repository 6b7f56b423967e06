#include "sample_block.h"

#include <sys/mman.h>

#include <new>

namespace tonbrix::python {

namespace {

// Blocks from this size on are mapped: a huge page is 2 MiB.
constexpr std::size_t mapped_bytes = std::size_t{2} << 20;

std::size_t mapped_size(std::size_t bytes)
{
    return (bytes + mapped_bytes - 1) / mapped_bytes * mapped_bytes;
}

} // namespace

float* allocate_samples(std::size_t count) noexcept
{
    const std::size_t bytes = count * sizeof(float);
    if (bytes < mapped_bytes) {
        return new (std::nothrow) float[count == 0 ? 1 : count];
    }
    void* block = ::mmap(nullptr, mapped_size(bytes), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) {
        return nullptr;
    }
    // Only advice: without huge pages the block works the same.
    static_cast<void>(::madvise(block, mapped_size(bytes), MADV_HUGEPAGE));
    return static_cast<float*>(block);
}

void release_samples(float* block, std::size_t count) noexcept
{
    if (block == nullptr) {
        return;
    }
    const std::size_t bytes = count * sizeof(float);
    if (bytes < mapped_bytes) {
        delete[] block;
    } else {
        ::munmap(block, mapped_size(bytes));
    }
}

} // namespace tonbrix::python
