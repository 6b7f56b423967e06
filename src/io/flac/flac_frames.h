#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tonbrix {

// The parts of a FLAC stream that tie its frames together: the frame
// number and checksums in each frame, and the STREAMINFO fields that sum up
// the whole stream. Frames encoded in separate pieces become one stream by
// renumbering them and writing the totals.

uint8_t flac_crc8(std::span<const uint8_t> bytes);
uint16_t flac_crc16(std::span<const uint8_t> bytes);

// Appends `number` in the UTF-8-like coding of frame headers (1 to 7 bytes).
void append_coded_number(std::vector<uint8_t>& out, uint64_t number);

// Appends `frame` (a whole frame of a fixed-blocksize stream) to `out` with
// `number` as its frame number, and its header and frame checksums made
// anew. False, with `out` unchanged, when the frame header is malformed.
bool append_renumbered_frame(std::span<const uint8_t> frame, uint64_t number,
                             std::vector<uint8_t>& out);

// Where the frames of a stream begin: after "fLaC" and the metadata blocks.
// Also gives the offset of STREAMINFO's 34 bytes. False when malformed.
bool find_flac_frames(std::span<const uint8_t> stream, std::size_t& frames_offset,
                      std::size_t& stream_info_offset);

struct FlacTotals {
    uint32_t min_frame_size = 0;
    uint32_t max_frame_size = 0;
    uint64_t samples = 0; // frames, in libsndfile's terms
    std::array<uint8_t, 16> md5{};
};

inline constexpr std::size_t stream_info_size = 34;

// Writes the totals into STREAMINFO's 34 bytes.
void write_flac_totals(uint8_t* stream_info, const FlacTotals& totals);

} // namespace tonbrix
