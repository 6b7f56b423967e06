#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace tonbrix {

// A zero-filled block of floats, obtained whole or not at all; calloc leaves
// pages nobody touches unallocated.
class SampleBlock {
public:
    // False when the memory cannot be had (or the size overflows).
    bool allocate(std::size_t count)
    {
        owner_.reset(static_cast<float*>(std::calloc(count == 0 ? 1 : count, sizeof(float))));
        return owner_ != nullptr;
    }
    float* data() const { return owner_.get(); }

private:
    struct Free {
        void operator()(float* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<float, Free> owner_;
};

} // namespace tonbrix
