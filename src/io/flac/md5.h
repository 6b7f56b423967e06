#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// An MD5 digest computed piece by piece.
struct Md5 {
    std::array<uint32_t, 4> state{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    std::array<uint8_t, 64> pending{}; // bytes of an incomplete 64-byte block
    std::size_t pending_size = 0;
    uint64_t length = 0; // bytes taken in so far
};

void md5_update(Md5& md5, const uint8_t* data, std::size_t size);

// Pads and returns the digest; `md5` is spent afterwards.
std::array<uint8_t, 16> md5_finish(Md5& md5);
