#pragma once

#include <cstddef>

namespace tonbrix::python {

// Memory for samples that becomes a numpy array's: large blocks are mapped
// whole and asked for huge pages, so that first writing them costs a fault
// per 2 MiB instead of per 4 KiB (several times the plugin's own time for
// minutes of audio); small ones come from the heap. The owner frees it
// with release_samples() and the same size.
float* allocate_samples(std::size_t count) noexcept;
void release_samples(float* block, std::size_t count) noexcept;

} // namespace tonbrix::python
