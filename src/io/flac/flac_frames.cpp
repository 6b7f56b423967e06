#include "io/flac/flac_frames.h"

namespace tonbrix {

namespace {

constexpr uint8_t crc8_table_entry(uint8_t byte)
{
    uint8_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) {
        crc = static_cast<uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

constexpr uint16_t crc16_table_entry(uint8_t byte)
{
    uint16_t crc = static_cast<uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) {
        crc = static_cast<uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x8005 : crc << 1);
    }
    return crc;
}

template <class T, T (*entry)(uint8_t)>
constexpr std::array<T, 256> make_table()
{
    std::array<T, 256> table{};
    for (int i = 0; i < 256; ++i) {
        table[i] = entry(static_cast<uint8_t>(i));
    }
    return table;
}

constexpr auto crc8_table = make_table<uint8_t, crc8_table_entry>();

// crc16_tables[k][x]: the CRC of byte x followed by k zero bytes, to take
// eight bytes per step.
constexpr std::array<std::array<uint16_t, 256>, 8> make_crc16_tables()
{
    std::array<std::array<uint16_t, 256>, 8> tables{};
    tables[0] = make_table<uint16_t, crc16_table_entry>();
    for (std::size_t k = 1; k < tables.size(); ++k) {
        for (std::size_t x = 0; x < 256; ++x) {
            const uint16_t previous = tables[k - 1][x];
            tables[k][x] = static_cast<uint16_t>((previous << 8) ^ tables[0][previous >> 8]);
        }
    }
    return tables;
}

constexpr auto crc16_tables = make_crc16_tables();

// Length of a coded number from its first byte; 0 when invalid.
std::size_t coded_number_length(uint8_t first)
{
    if ((first & 0x80) == 0) {
        return 1;
    }
    for (std::size_t length = 2; length <= 7; ++length) {
        const auto mask = static_cast<uint8_t>(0xff << (7 - length));
        const auto pattern = static_cast<uint8_t>(0xff << (8 - length));
        if ((first & mask) == pattern) {
            return length;
        }
    }
    return 0;
}

void put_bits(uint8_t* bytes, std::size_t first_bit, unsigned count, uint64_t value)
{
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t bit = first_bit + i;
        const auto mask = static_cast<uint8_t>(0x80 >> (bit % 8));
        if (((value >> (count - 1 - i)) & 1) != 0) {
            bytes[bit / 8] |= mask;
        } else {
            bytes[bit / 8] &= static_cast<uint8_t>(~mask);
        }
    }
}

} // namespace

uint8_t flac_crc8(std::span<const uint8_t> bytes)
{
    uint8_t crc = 0;
    for (const uint8_t byte : bytes) {
        crc = crc8_table[crc ^ byte];
    }
    return crc;
}

uint16_t flac_crc16(std::span<const uint8_t> bytes)
{
    const auto& t = crc16_tables;
    uint16_t crc = 0;
    const uint8_t* p = bytes.data();
    std::size_t n = bytes.size();
    for (; n >= 8; p += 8, n -= 8) {
        crc = static_cast<uint16_t>(t[7][p[0] ^ (crc >> 8)] ^ t[6][p[1] ^ (crc & 0xff)] ^
                                    t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^
                                    t[1][p[6]] ^ t[0][p[7]]);
    }
    for (; n > 0; ++p, --n) {
        crc = static_cast<uint16_t>((crc << 8) ^ t[0][(crc >> 8) ^ *p]);
    }
    return crc;
}

void append_coded_number(std::vector<uint8_t>& out, uint64_t number)
{
    if (number < 0x80) {
        out.push_back(static_cast<uint8_t>(number));
        return;
    }
    // Continuation bytes carry 6 bits each; the first byte carries what is
    // left beside its length marker.
    std::size_t length = 2;
    while (length < 7 && number >= (uint64_t{1} << (5 * length + 1))) {
        ++length;
    }
    const auto marker = static_cast<uint8_t>(0xff << (8 - length));
    out.push_back(static_cast<uint8_t>(marker | (number >> (6 * (length - 1)))));
    for (std::size_t i = length - 1; i > 0; --i) {
        out.push_back(static_cast<uint8_t>(0x80 | ((number >> (6 * (i - 1))) & 0x3f)));
    }
}

bool append_renumbered_frame(std::span<const uint8_t> frame, uint64_t number,
                             std::vector<uint8_t>& out)
{
    // Sync code of a fixed-blocksize frame, block size and sample rate
    // codes, channels and sample size, then the coded frame number.
    if (frame.size() < 6 || frame[0] != 0xff || frame[1] != 0xf8) {
        return false;
    }
    const std::size_t number_length = coded_number_length(frame[4]);
    if (number_length == 0 || number_length > 6) {
        return false;
    }
    const unsigned block_code = frame[2] >> 4;
    const unsigned rate_code = frame[2] & 0x0f;
    std::size_t extra = block_code == 6 ? 1 : block_code == 7 ? 2 : 0;
    extra += rate_code == 12 ? 1 : (rate_code == 13 || rate_code == 14) ? 2 : 0;
    const std::size_t old_header = 4 + number_length + extra; // before the header CRC
    if (frame.size() < old_header + 1 + 2) {
        return false;
    }
    const std::size_t start = out.size();
    out.insert(out.end(), frame.begin(), frame.begin() + 4);
    append_coded_number(out, number);
    out.insert(out.end(), frame.begin() + 4 + number_length, frame.begin() + old_header);
    out.push_back(flac_crc8(std::span(out).subspan(start)));
    out.insert(out.end(), frame.begin() + old_header + 1, frame.end() - 2);
    const uint16_t crc = flac_crc16(std::span(out).subspan(start));
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc));
    return true;
}

bool find_flac_frames(std::span<const uint8_t> stream, std::size_t& frames_offset,
                      std::size_t& stream_info_offset)
{
    if (stream.size() < 8 || stream[0] != 'f' || stream[1] != 'L' || stream[2] != 'a' ||
        stream[3] != 'C') {
        return false;
    }
    std::size_t offset = 4;
    bool last = false;
    bool found_info = false;
    while (!last) {
        if (stream.size() - offset < 4) {
            return false;
        }
        last = (stream[offset] & 0x80) != 0;
        const unsigned type = stream[offset] & 0x7f;
        const std::size_t length = std::size_t{stream[offset + 1]} << 16 |
                                   std::size_t{stream[offset + 2]} << 8 | stream[offset + 3];
        offset += 4;
        if (stream.size() - offset < length) {
            return false;
        }
        if (type == 0 && length == stream_info_size) {
            stream_info_offset = offset;
            found_info = true;
        }
        offset += length;
    }
    frames_offset = offset;
    return found_info;
}

void write_flac_totals(uint8_t* stream_info, const FlacTotals& totals)
{
    // Bits: block sizes 0-31, frame sizes 32-79, rate, channels and sample
    // size 80-107, samples 108-143, then the MD5.
    put_bits(stream_info, 32, 24, totals.min_frame_size);
    put_bits(stream_info, 56, 24, totals.max_frame_size);
    put_bits(stream_info, 108, 36, totals.samples);
    for (std::size_t i = 0; i < totals.md5.size(); ++i) {
        stream_info[18 + i] = totals.md5[i];
    }
}

} // namespace tonbrix
