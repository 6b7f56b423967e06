#include "io/midi_writer.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tonbrix {

namespace {

// 500000 microseconds per quarter note: 120 BPM.
constexpr std::uint8_t tempo_event[] = {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};
constexpr std::uint8_t end_of_track[] = {0xFF, 0x2F, 0x00};
// An empty text event that carries a delta time too long for one number.
constexpr std::uint8_t filler_event[] = {0xFF, 0x01, 0x00};

// The largest variable-length number (four bytes of seven bits).
constexpr std::uint32_t largest_number = 0x0FFFFFFF;
// The latest tick written, far beyond any real recording, so that every sum
// of ticks stays exact in a double and an int64.
constexpr double latest_tick = 1e15;

void put_number(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    std::uint8_t groups[4];
    int n = 0;
    do {
        groups[n++] = value & 0x7F;
        value >>= 7;
    } while (value != 0 && n < 4);
    while (n > 1) {
        out.push_back(groups[--n] | 0x80);
    }
    out.push_back(groups[0]);
}

void put_big_endian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

// Writes the delta from `from` to `to`, with filler events where it is too
// long for one number.
void put_delta(std::vector<std::uint8_t>& out, std::uint64_t from, std::uint64_t to)
{
    std::uint64_t delta = to - from;
    while (delta > largest_number) {
        put_number(out, largest_number);
        out.insert(out.end(), std::begin(filler_event), std::end(filler_event));
        delta -= largest_number;
    }
    put_number(out, static_cast<std::uint32_t>(delta));
}

bool is_channel_message(std::span<const std::uint8_t> bytes)
{
    const std::uint8_t status = bytes[0];
    if (status < 0x80 || status >= 0xF0) {
        return false;
    }
    const std::uint8_t kind = status & 0xF0;
    const std::size_t size = (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
    return bytes.size() == size &&
           std::all_of(bytes.begin() + 1, bytes.end(), [](std::uint8_t b) { return b < 0x80; });
}

void put_event(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes)
{
    if (is_channel_message(bytes)) {
        out.insert(out.end(), bytes.begin(), bytes.end());
        return;
    }
    // The F0 form holds what follows F0; the F7 form the message as it is.
    const std::span<const std::uint8_t> data = bytes[0] == 0xF0 ? bytes.subspan(1) : bytes;
    out.push_back(bytes[0] == 0xF0 ? 0xF0 : 0xF7);
    put_number(out, static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
}

std::uint64_t tick_of(double seconds, double ticks_per_second)
{
    const double tick = std::round(seconds * ticks_per_second);
    if (!(tick > 0.0)) {
        return 0;
    }
    return static_cast<std::uint64_t>(std::min(tick, latest_tick));
}

} // namespace

std::uint16_t ticks_per_quarter_for_rate(double sample_rate)
{
    const double half = sample_rate / 2.0;
    if (half >= 1.0 && half <= 32767.0 && half == std::floor(half)) {
        return static_cast<std::uint16_t>(half);
    }
    return default_ticks_per_quarter;
}

std::vector<std::uint8_t> write_midi_file(std::span<const TimedMidiEvent> events,
                                          double length_seconds, std::uint16_t ticks_per_quarter)
{
    if (ticks_per_quarter == 0 || ticks_per_quarter > 0x7FFF) {
        ticks_per_quarter = default_ticks_per_quarter;
    }
    // Two quarter notes a second at 120 BPM.
    const double ticks_per_second = 2.0 * ticks_per_quarter;

    std::vector<std::uint64_t> ticks(events.size());
    std::vector<std::size_t> order;
    order.reserve(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        ticks[i] = tick_of(events[i].seconds, ticks_per_second);
        // A length that a variable-length number cannot state is left out too.
        if (!events[i].bytes.empty() && events[i].bytes.size() - 1 <= largest_number) {
            order.push_back(i);
        }
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return ticks[a] < ticks[b]; });

    std::vector<std::uint8_t> track;
    put_number(track, 0);
    track.insert(track.end(), std::begin(tempo_event), std::end(tempo_event));
    std::uint64_t now = 0;
    for (std::size_t i : order) {
        put_delta(track, now, ticks[i]);
        now = ticks[i];
        put_event(track, events[i].bytes);
    }
    put_delta(track, now, std::max(now, tick_of(length_seconds, ticks_per_second)));
    track.insert(track.end(), std::begin(end_of_track), std::end(end_of_track));

    std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd'};
    put_big_endian(file, 6, 4);
    put_big_endian(file, 0, 2); // format 0
    put_big_endian(file, 1, 2); // one track
    put_big_endian(file, ticks_per_quarter, 2);
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    put_big_endian(file, static_cast<std::uint32_t>(track.size()), 4);
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

} // namespace tonbrix
