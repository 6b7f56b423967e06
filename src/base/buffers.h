#pragma once

#include <tonbrix/error.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>

namespace tonbrix {

// A zero-filled heap block of T, obtained whole or not at all. Large blocks
// come from calloc, so untouched pages cost nothing.
template <class T>
struct ZeroBuffer {
    struct Free {
        void operator()(T* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<T[], Free> owner;
    T* data = nullptr;
    std::size_t size = 0;

    // False when the memory cannot be had; the buffer is then empty.
    bool allocate(std::size_t count)
    {
        owner.reset();
        data = nullptr;
        size = 0;
        // calloc checks count * sizeof(T) for overflow; ask for one element
        // at least so that an empty buffer still has a valid address.
        T* p = static_cast<T*>(std::calloc(count == 0 ? 1 : count, sizeof(T)));
        if (p == nullptr) {
            return false;
        }
        owner.reset(p);
        data = p;
        size = count;
        return true;
    }
};

using ByteBuffer = ZeroBuffer<uint8_t>;
using FloatBuffer = ZeroBuffer<float>;


// The product of the factors, false when it does not fit in size_t.
bool checked_product(std::initializer_list<std::size_t> factors, std::size_t& product);

} // namespace tonbrix
