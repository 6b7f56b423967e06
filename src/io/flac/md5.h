#pragma once

#include <nettle/md5.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace tonbrix {

// An MD5 digest computed piece by piece, by nettle.
class Md5 {
public:
    Md5() noexcept { md5_init(&context_); }

    void add(const uint8_t* data, std::size_t size) noexcept { md5_update(&context_, size, data); }

    // The digest of everything added; the object starts afresh afterwards.
    std::array<uint8_t, 16> finish() noexcept
    {
        std::array<uint8_t, 16> digest{};
        md5_digest(&context_, digest.size(), digest.data());
        return digest;
    }

private:
    md5_ctx context_;
};

} // namespace tonbrix
