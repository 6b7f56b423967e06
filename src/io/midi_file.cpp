#include "io/midi_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

namespace tonbrix {

namespace {

// A tempo of 120 quarter notes per minute, the one of a file that sets none.
constexpr std::uint32_t default_micros_per_quarter = 500000;

// A chunk header: four letters and a 32-bit length.
constexpr std::size_t chunk_header_size = 8;
// The most bytes of a variable-length number.
constexpr int longest_number = 4;

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

Error failure(std::string_view name, std::string_view what)
{
    std::string message = "Error: MIDI file '";
    message += name;
    message += "': ";
    message += what;
    message += '\n';
    return Error{std::move(message)};
}

std::string hex_byte(std::uint8_t byte)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    text += digits[byte >> 4];
    text += digits[byte & 0x0F];
    return text;
}

// A chunk's four-letter type as text: quoted letters, or hex bytes when they
// are not printable.
std::string chunk_type_text(std::span<const std::uint8_t> type)
{
    const bool printable = std::all_of(type.begin(), type.end(),
                                       [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
    if (printable) {
        std::string text(1, '\'');
        text.append(type.begin(), type.end());
        text += '\'';
        return text;
    }
    std::string text;
    for (std::uint8_t c : type) {
        text += text.empty() ? "" : " ";
        text += hex_byte(c);
    }
    return text;
}

// "1 track", "2 tracks".
std::string count(std::size_t n, std::string_view noun)
{
    return std::to_string(n) + " " + std::string(noun) + (n == 1 ? "" : "s");
}

std::uint32_t big_endian(std::span<const std::uint8_t> bytes)
{
    std::uint32_t value = 0;
    for (std::uint8_t b : bytes) {
        value = (value << 8) | b;
    }
    return value;
}

bool has_type(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view type)
{
    return bytes.size() - at >= 4 && std::equal(type.begin(), type.end(), bytes.begin() + at);
}

// How ticks become seconds: ticks per quarter note under the tempo map, or
// SMPTE frames (ticks per frame times frames per second).
struct Division {
    std::uint32_t ticks_per_quarter = 0; // 0 for SMPTE
    std::uint32_t ticks_per_second_numerator = 0;
    std::uint32_t ticks_per_second_denominator = 1;
};

struct TrackEvent {
    std::uint64_t tick = 0;
    std::vector<std::uint8_t> bytes;
};

struct TrackTempo {
    std::uint64_t tick = 0;
    std::uint32_t micros_per_quarter = default_micros_per_quarter;
};

// Everything the tracks hold, each list in file order (track by track).
struct TrackContents {
    std::vector<TrackEvent> events;
    std::vector<TrackTempo> tempos;
    std::uint64_t end_tick = 0;
};

// The tempo map: from `tick` on, a tick lasts `micros_per_quarter` /
// ticks_per_quarter microseconds; `elapsed` is the time before `tick` in
// microseconds times ticks_per_quarter, exact.
struct TempoSegment {
    std::uint64_t tick = 0;
    std::uint32_t micros_per_quarter = default_micros_per_quarter;
    unsigned __int128 elapsed = 0;
};

class TickClock {
public:
    TickClock(const Division& division, std::span<const TrackTempo> tempos) : division_(division)
    {
        segments_.push_back({0, default_micros_per_quarter, 0});
        for (const TrackTempo& tempo : tempos) {
            TempoSegment& last = segments_.back();
            if (tempo.tick == last.tick) {
                last.micros_per_quarter = tempo.micros_per_quarter;
                continue;
            }
            const unsigned __int128 span = tempo.tick - last.tick;
            segments_.push_back(
                {tempo.tick, tempo.micros_per_quarter, last.elapsed + span * last.micros_per_quarter});
        }
    }

    double seconds(std::uint64_t tick) const
    {
        if (division_.ticks_per_quarter == 0) {
            return static_cast<double>(tick) * division_.ticks_per_second_denominator /
                   division_.ticks_per_second_numerator;
        }
        const auto after = std::upper_bound(
            segments_.begin(), segments_.end(), tick,
            [](std::uint64_t t, const TempoSegment& segment) { return t < segment.tick; });
        const TempoSegment& segment = *(after - 1);
        const unsigned __int128 elapsed =
            segment.elapsed +
            static_cast<unsigned __int128>(tick - segment.tick) * segment.micros_per_quarter;
        return static_cast<double>(elapsed) / (1e6 * division_.ticks_per_quarter);
    }

private:
    Division division_;
    std::vector<TempoSegment> segments_;
};

// Reads one track chunk's events; `offset` is the file offset of its first
// byte, for the messages.
class TrackReader {
public:
    TrackReader(std::span<const std::uint8_t> body, std::size_t offset, int number,
                TrackContents& contents)
        : body_(body), offset_(offset), number_(number), contents_(contents)
    {
    }

    // Returns "" or what is wrong with the track.
    std::string read()
    {
        std::uint64_t tick = 0;
        std::uint8_t running = 0;
        bool ended = false;
        while (pos_ < body_.size()) {
            if (ended) {
                return at("goes on after its end of track");
            }
            std::uint32_t delta = 0;
            if (std::string error = number(delta); !error.empty()) {
                return error;
            }
            tick += delta;
            if (pos_ == body_.size()) {
                return at("ends inside an event");
            }
            const std::size_t start = pos_;
            const std::uint8_t first = body_[pos_];
            if (first == 0xFF) {
                ++pos_;
                running = 0;
                if (std::string error = meta(tick, ended); !error.empty()) {
                    return error;
                }
            } else if (first == 0xF0 || first == 0xF7) {
                ++pos_;
                running = 0;
                if (std::string error = sysex(tick, first); !error.empty()) {
                    return error;
                }
            } else {
                std::uint8_t status = first;
                if (first >= 0x80) {
                    if (first >= 0xF0) {
                        return at("has the status byte " + hex_byte(first) +
                                  ", which a MIDI file cannot hold");
                    }
                    running = first;
                    ++pos_;
                } else if (running == 0) {
                    return at("uses running status with no status byte before it");
                } else {
                    status = running;
                }
                if (std::string error = channel(tick, status, start); !error.empty()) {
                    return error;
                }
            }
        }
        if (!ended) {
            return track_text() + " has no end of track";
        }
        contents_.end_tick = std::max(contents_.end_tick, tick);
        return "";
    }

private:
    std::string track_text() const { return "track " + std::to_string(number_); }

    std::string at(std::string_view what) const
    {
        return track_text() + " " + std::string(what) + " (at byte " +
               std::to_string(offset_ + pos_) + ")";
    }

    // A variable-length number: seven bits a byte, at most four bytes.
    std::string number(std::uint32_t& value)
    {
        value = 0;
        for (int i = 0; i < longest_number; ++i) {
            if (pos_ == body_.size()) {
                return at("ends inside an event");
            }
            const std::uint8_t byte = body_[pos_++];
            value = (value << 7) | (byte & 0x7F);
            if ((byte & 0x80) == 0) {
                return "";
            }
        }
        return at("has a variable-length number longer than 4 bytes");
    }

    // The length of a meta or sysex event and the bytes it covers.
    std::string payload(std::span<const std::uint8_t>& bytes)
    {
        std::uint32_t length = 0;
        if (std::string error = number(length); !error.empty()) {
            return error;
        }
        if (length > body_.size() - pos_) {
            return at("has an event of " + count(length, "byte") + ", but only " +
                      std::to_string(body_.size() - pos_) + " remain in the track");
        }
        bytes = body_.subspan(pos_, length);
        pos_ += length;
        return "";
    }

    std::string meta(std::uint64_t tick, bool& ended)
    {
        if (pos_ == body_.size()) {
            return at("ends inside an event");
        }
        const std::uint8_t type = body_[pos_++];
        const std::size_t start = pos_;
        std::span<const std::uint8_t> data;
        if (std::string error = payload(data); !error.empty()) {
            return error;
        }
        if (type == 0x51) {
            if (data.size() != 3) {
                pos_ = start;
                return at("has a tempo event of " + std::to_string(data.size()) +
                          " bytes; a tempo has 3");
            }
            const std::uint32_t micros = big_endian(data);
            if (micros == 0) {
                pos_ = start;
                return at("sets a tempo of 0 microseconds per quarter note");
            }
            contents_.tempos.push_back({tick, micros});
        } else if (type == 0x2F) {
            ended = true;
        }
        return "";
    }

    std::string sysex(std::uint64_t tick, std::uint8_t kind)
    {
        std::span<const std::uint8_t> data;
        if (std::string error = payload(data); !error.empty()) {
            return error;
        }
        TrackEvent event{tick, {}};
        event.bytes.reserve(data.size() + 1);
        if (kind == 0xF0) {
            event.bytes.push_back(0xF0);
        }
        event.bytes.insert(event.bytes.end(), data.begin(), data.end());
        if (!event.bytes.empty()) {
            contents_.events.push_back(std::move(event));
        }
        return "";
    }

    std::string channel(std::uint64_t tick, std::uint8_t status, std::size_t start)
    {
        const std::uint8_t kind = status & 0xF0;
        const std::size_t data_bytes = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
        if (body_.size() - pos_ < data_bytes) {
            pos_ = start;
            return at("ends inside an event");
        }
        TrackEvent event{tick, {status}};
        for (std::size_t i = 0; i < data_bytes; ++i) {
            const std::uint8_t byte = body_[pos_];
            if (byte >= 0x80) {
                return at("has the byte " + hex_byte(byte) + " where a data byte (below 0x80) belongs");
            }
            event.bytes.push_back(byte);
            ++pos_;
        }
        contents_.events.push_back(std::move(event));
        return "";
    }

    std::span<const std::uint8_t> body_;
    std::size_t offset_;
    int number_;
    TrackContents& contents_;
    std::size_t pos_ = 0;
};

// Reads the header chunk; returns "" or what is wrong with it.
std::string read_header(std::span<const std::uint8_t> bytes, std::size_t& pos, int& tracks,
                        Division& division)
{
    if (!has_type(bytes, 0, "MThd")) {
        return "not a Standard MIDI File (it does not begin with 'MThd')";
    }
    if (bytes.size() < chunk_header_size) {
        return "the file ends inside its header";
    }
    const std::uint32_t length = big_endian(bytes.subspan(4, 4));
    if (length < 6) {
        return "the header chunk has " + std::to_string(length) + " bytes; it needs 6";
    }
    if (length > bytes.size() - chunk_header_size) {
        return "the header chunk claims " + std::to_string(length) + " bytes, but only " +
               std::to_string(bytes.size() - chunk_header_size) + " follow";
    }
    const std::uint32_t format = big_endian(bytes.subspan(8, 2));
    tracks = static_cast<int>(big_endian(bytes.subspan(10, 2)));
    const std::uint8_t high = bytes[12];
    const std::uint8_t low = bytes[13];
    pos = chunk_header_size + length;
    if (format == 2) {
        return "format 2 (independent sequences) is not supported; only formats 0 and 1 are";
    }
    if (format > 2) {
        return "format " + std::to_string(format) + " is not a MIDI file format (0, 1 or 2)";
    }
    if (tracks == 0) {
        return "the header announces no tracks";
    }
    if (format == 0 && tracks != 1) {
        return "format 0 has one track, but the header announces " + std::to_string(tracks);
    }
    if ((high & 0x80) == 0) {
        division.ticks_per_quarter = (std::uint32_t{high} << 8) | low;
        if (division.ticks_per_quarter == 0) {
            return "the division is 0 ticks per quarter note";
        }
        return "";
    }
    const int frames = -static_cast<int>(static_cast<std::int8_t>(high));
    if (frames != 24 && frames != 25 && frames != 29 && frames != 30) {
        return "the SMPTE division has " + std::to_string(frames) +
               " frames per second; only 24, 25, 29 (29.97) and 30 exist";
    }
    if (low == 0) {
        return "the SMPTE division has 0 ticks per frame";
    }
    // 29 stands for the 30000/1001 frames per second of drop-frame time code.
    division.ticks_per_second_numerator = (frames == 29 ? 30000u : static_cast<unsigned>(frames)) * low;
    division.ticks_per_second_denominator = frames == 29 ? 1001 : 1;
    return "";
}

// Reads the track chunks after the header, skipping chunks of other types;
// returns "" or what is wrong.
std::string read_tracks(std::span<const std::uint8_t> bytes, std::size_t pos, int tracks,
                        TrackContents& contents)
{
    for (int read = 0; read < tracks;) {
        const std::size_t left = bytes.size() - pos;
        if (left == 0) {
            return "the header announces " + count(tracks, "track") + ", but the file holds only " +
                   std::to_string(read);
        }
        if (left < chunk_header_size) {
            return "the file ends inside a chunk header (at byte " + std::to_string(pos) + ")";
        }
        const bool track = has_type(bytes, pos, "MTrk");
        const std::uint32_t length = big_endian(bytes.subspan(pos + 4, 4));
        const std::size_t body = pos + chunk_header_size;
        if (length > bytes.size() - body) {
            const std::string chunk = track ? "track " + std::to_string(read + 1)
                                            : "the chunk " + chunk_type_text(bytes.subspan(pos, 4));
            return chunk + " is cut short: it claims " + std::to_string(length) +
                   " bytes, but only " + std::to_string(bytes.size() - body) + " remain";
        }
        if (track) {
            ++read;
            TrackReader reader(bytes.subspan(body, length), body, read, contents);
            if (std::string error = reader.read(); !error.empty()) {
                return error;
            }
        }
        pos = body + length;
    }
    if (has_type(bytes, pos, "MTrk")) {
        return "the file holds more tracks than the " + count(tracks, "track") +
               " its header announces";
    }
    return "";
}

} // namespace

Result<MidiFile> parse_midi_file(std::span<const std::uint8_t> bytes, std::string_view name)
{
    std::size_t pos = 0;
    int tracks = 0;
    Division division;
    if (std::string error = read_header(bytes, pos, tracks, division); !error.empty()) {
        return failure(name, error);
    }
    TrackContents contents;
    if (std::string error = read_tracks(bytes, pos, tracks, contents); !error.empty()) {
        return failure(name, error);
    }

    // Stable sorts keep the file's order among equal ticks: track by track,
    // then as written.
    const auto earlier = [](const auto& a, const auto& b) { return a.tick < b.tick; };
    std::stable_sort(contents.events.begin(), contents.events.end(), earlier);
    std::stable_sort(contents.tempos.begin(), contents.tempos.end(), earlier);
    const TickClock clock(division, contents.tempos);

    MidiFile file;
    file.events.reserve(contents.events.size());
    for (TrackEvent& event : contents.events) {
        file.events.push_back({clock.seconds(event.tick), std::move(event.bytes)});
    }
    for (std::size_t i = 0; i < contents.tempos.size(); ++i) {
        const TrackTempo& tempo = contents.tempos[i];
        if (i + 1 < contents.tempos.size() && contents.tempos[i + 1].tick == tempo.tick) {
            continue;
        }
        file.tempo_changes.push_back({clock.seconds(tempo.tick), 60e6 / tempo.micros_per_quarter});
    }
    file.length_seconds = clock.seconds(contents.end_tick);
    return file;
}

Result<MidiFile> read_midi_file(const std::string& path)
{
    const auto system_failure = [&](int error) {
        return failure(path, std::generic_category().message(error));
    };
    errno = 0;
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return system_failure(errno);
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (got < sizeof chunk) {
            break;
        }
        // Anything else, a large sound file given by mistake for one, is
        // refused before it is read whole.
        if (!has_type(bytes, 0, "MThd")) {
            break;
        }
    }
    if (std::ferror(file.get())) {
        return system_failure(errno != 0 ? errno : EIO);
    }
    return parse_midi_file(bytes, path);
}

} // namespace tonbrix
