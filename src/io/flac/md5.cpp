#include "io/flac/md5.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int shifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

uint32_t rotate_left(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

template <int round>
uint32_t mix(uint32_t b, uint32_t c, uint32_t d)
{
    if constexpr (round == 0) {
        return d ^ (b & (c ^ d));
    } else if constexpr (round == 1) {
        return c ^ (d & (b ^ c));
    } else if constexpr (round == 2) {
        return b ^ c ^ d;
    } else {
        return c ^ (b | ~d);
    }
}

template <int round>
void md5_round(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, const uint32_t* words)
{
#pragma GCC unroll 16
    for (int j = 0; j < 16; ++j) {
        const int i = round * 16 + j;
        const int g = round == 0 ? j : round == 1 ? (5 * j + 1) % 16 : round == 2 ? (3 * j + 5) % 16
                                                                                   : (7 * j) % 16;
        const uint32_t f = mix<round>(b, c, d);
        const uint32_t next = d;
        d = c;
        c = b;
        b = b + rotate_left(a + f + sines[i] + words[g], shifts[i]);
        a = next;
    }
}

void md5_block(std::array<uint32_t, 4>& state, const uint8_t* block)
{
    uint32_t words[16];
    for (int i = 0; i < 16; ++i) {
        words[i] = uint32_t{block[i * 4]} | uint32_t{block[i * 4 + 1]} << 8 |
                   uint32_t{block[i * 4 + 2]} << 16 | uint32_t{block[i * 4 + 3]} << 24;
    }
    uint32_t a = state[0];
    uint32_t b = state[1];
    uint32_t c = state[2];
    uint32_t d = state[3];
    md5_round<0>(a, b, c, d, words);
    md5_round<1>(a, b, c, d, words);
    md5_round<2>(a, b, c, d, words);
    md5_round<3>(a, b, c, d, words);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

} // namespace

void md5_update(Md5& md5, const uint8_t* data, std::size_t size)
{
    md5.length += size;
    if (md5.pending_size > 0) {
        const std::size_t take = std::min(size, md5.pending.size() - md5.pending_size);
        std::memcpy(md5.pending.data() + md5.pending_size, data, take);
        md5.pending_size += take;
        data += take;
        size -= take;
        if (md5.pending_size < md5.pending.size()) {
            return;
        }
        md5_block(md5.state, md5.pending.data());
        md5.pending_size = 0;
    }
    for (; size >= 64; data += 64, size -= 64) {
        md5_block(md5.state, data);
    }
    std::memcpy(md5.pending.data(), data, size);
    md5.pending_size = size;
}

std::array<uint8_t, 16> md5_finish(Md5& md5)
{
    const uint64_t bits = md5.length * 8;
    uint8_t padding[72] = {0x80};
    const std::size_t pad = md5.pending_size < 56 ? 56 - md5.pending_size : 120 - md5.pending_size;
    for (int i = 0; i < 8; ++i) {
        padding[pad + i] = static_cast<uint8_t>(bits >> (8 * i));
    }
    const uint64_t length = md5.length;
    md5_update(md5, padding, pad + 8);
    md5.length = length;
    std::array<uint8_t, 16> digest{};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            digest[i * 4 + j] = static_cast<uint8_t>(md5.state[i] >> (8 * j));
        }
    }
    return digest;
}
