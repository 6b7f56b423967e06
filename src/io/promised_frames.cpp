#include "io/promised_frames.h"

#include <charconv>
#include <string>

namespace tonbrix {

namespace {

// Bytes a frame takes in an uncompressed encoding; 0 for other encodings.
uint64_t frame_bytes(const SF_INFO& info)
{
    uint64_t sample = 0;
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
        sample = 1;
        break;
    case SF_FORMAT_PCM_16:
        sample = 2;
        break;
    case SF_FORMAT_PCM_24:
        sample = 3;
        break;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        sample = 4;
        break;
    case SF_FORMAT_DOUBLE:
        sample = 8;
        break;
    default:
        return 0;
    }
    return info.channels > 0 ? sample * static_cast<uint64_t>(info.channels) : 0;
}

// The number at the start of `text` (after blanks); false when there is none.
bool read_number(std::string_view text, uint64_t& value)
{
    const std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        return false;
    }
    const char* first = text.data() + start;
    return std::from_chars(first, text.data() + text.size(), value).ec == std::errc{};
}

// In a line "NAME : SIZE (should be LEFT)", the two numbers; false for
// other lines.
bool read_shortfall(std::string_view line, std::string_view name, uint64_t& size,
                    uint64_t& left)
{
    const std::size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos || line.substr(start, name.size()) != name) {
        return false;
    }
    line.remove_prefix(start + name.size());
    const std::size_t colon = line.find_first_not_of(' ');
    const std::size_t should = line.find("(should be ");
    if (colon == std::string_view::npos || line[colon] != ':' || should == std::string_view::npos) {
        return false;
    }
    return read_number(line.substr(colon + 1), size) &&
           read_number(line.substr(should + 11), left) && size > left;
}

// Sizes that programs writing to a pipe put in a 32-bit size field for a
// length they do not know yet (0xFFFFFFFF by ffmpeg, 0x7FFFF000 by sox):
// they promise nothing.
constexpr uint64_t unknown_size = 0x7FFFF000;

} // namespace

uint64_t logged_promised_frames(std::string_view log, const SF_INFO& info)
{
    // The chunk that holds the samples, and the header bytes its size counts.
    std::string_view chunk;
    uint64_t chunk_header = 0;
    switch (info.format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
        chunk = "data";
        break;
    case SF_FORMAT_AIFF:
        chunk = "SSND"; // its offset and block size come first
        chunk_header = 8;
        break;
    case SF_FORMAT_AU:
        chunk = "Data Size";
        break;
    case SF_FORMAT_RF64:
        chunk = "Frames"; // the frame count of the ds64 chunk
        break;
    default:
        return 0;
    }
    uint64_t promised = 0;
    while (!log.empty()) {
        const std::size_t end = log.find('\n');
        const std::string_view line = log.substr(0, end);
        log = end == std::string_view::npos ? std::string_view() : log.substr(end + 1);
        uint64_t size = 0;
        uint64_t left = 0;
        if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64) {
            const std::size_t start = line.find_first_not_of(' ');
            const std::size_t colon = line.find(':');
            if (start != std::string_view::npos && line.substr(start, chunk.size()) == chunk &&
                colon != std::string_view::npos && read_number(line.substr(colon + 1), size)) {
                promised = size;
            }
        } else if (read_shortfall(line, chunk, size, left) && size >= chunk_header &&
                   size < unknown_size && frame_bytes(info) > 0) {
            promised = (size - chunk_header) / frame_bytes(info);
        }
    }
    return promised > static_cast<uint64_t>(std::max<sf_count_t>(info.frames, 0)) ? promised : 0;
}

uint64_t promised_frames(SNDFILE* file, const SF_INFO& info)
{
    if (info.seekable == 0 || info.frames < 0 || info.frames == SF_COUNT_MAX ||
        (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW) {
        return 0;
    }
    std::string log(16384, '\0');
    const int length =
        sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
    log.resize(static_cast<std::size_t>(std::max(length, 0)));
    const uint64_t logged = logged_promised_frames(log, info);
    return logged > 0 ? logged : static_cast<uint64_t>(info.frames);
}

} // namespace tonbrix
