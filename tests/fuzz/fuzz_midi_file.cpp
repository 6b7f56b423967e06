// A MIDI file made of arbitrary bytes: read, checked for what the reader
// promises, written back with the writer and read again, and handed to a
// plugin's atom input block by block and read out of it again.
#include "io/midi_file.h"
#include "io/midi_writer.h"
#include "lv2/midi_events.h"
#include "lv2/transport.h"

#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace {

// Round trips only for files short enough to write back quickly.
constexpr double longest_round_trip = 1e5;
constexpr double rate = 48000.0;
constexpr std::uint32_t block_frames = 4096;

void check(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

void check_file(const tonbrix::MidiFile& file)
{
    double previous = 0.0;
    for (const tonbrix::TimedMidiEvent& event : file.events) {
        check(std::isfinite(event.seconds) && event.seconds >= previous);
        check(event.seconds <= file.length_seconds);
        // Escaped (F7) events hold any bytes, so channel messages cannot be
        // told from them here; the unit tests check those.
        check(!event.bytes.empty());
        previous = event.seconds;
    }
    previous = 0.0;
    for (const tonbrix::TempoChange& change : file.tempo_changes) {
        check(std::isfinite(change.seconds) && change.seconds >= previous);
        check(change.bpm > 0.0 && std::isfinite(change.bpm));
        previous = change.seconds;
    }
}

void check_round_trip(const tonbrix::MidiFile& file)
{
    const std::vector<std::uint8_t> written = tonbrix::write_midi_file(file.events, file.length_seconds);
    const tonbrix::Result<tonbrix::MidiFile> again = tonbrix::parse_midi_file(written, "written");
    check(again.ok());
    check(again->events.size() == file.events.size());
    const double half_tick = 0.5 / (2.0 * tonbrix::default_ticks_per_quarter);
    for (std::size_t i = 0; i < file.events.size(); ++i) {
        check(again->events[i].bytes == file.events[i].bytes);
        check(std::fabs(again->events[i].seconds - file.events[i].seconds) <= half_tick + 1e-9);
    }
}

void check_sequences(const tonbrix::MidiFile& file)
{
    const tonbrix::EventUrids urids = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    const std::vector<tonbrix::TransportPosition> positions =
        tonbrix::transport_positions(file.tempo_changes, rate);
    const tonbrix::EventSource source{file.events, positions, rate};
    const std::size_t capacity = tonbrix::sequence_capacity_needed(source, block_frames);
    std::vector<std::uint64_t> words((capacity + 7) / 8);
    const tonbrix::AtomRegion buffer{words.data(), static_cast<std::uint32_t>(capacity)};
    std::vector<tonbrix::TimedMidiEvent> read;
    tonbrix::EventCursor cursor;
    while (cursor.event < file.events.size() || cursor.position < positions.size()) {
        // Blocks without events are skipped.
        std::int64_t frame = cursor.position < positions.size() ? positions[cursor.position].frame : INT64_MAX;
        if (cursor.event < file.events.size()) {
            frame = std::min(frame, tonbrix::frame_of(file.events[cursor.event].seconds, rate));
        }
        const std::int64_t start = frame / block_frames * block_frames;
        const tonbrix::BlockEvents block = tonbrix::write_block_events(source, cursor, start, block_frames, urids, buffer);
        check(block.left_out == 0 && block.written > 0);
        tonbrix::read_block_events(buffer, start, block_frames, rate, urids, read);
        cursor = block.next;
    }
    check(read.size() == file.events.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        check(read[i].bytes == file.events[i].bytes);
        check(tonbrix::frame_of(read[i].seconds, rate) == tonbrix::frame_of(file.events[i].seconds, rate));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const tonbrix::Result<tonbrix::MidiFile> read = tonbrix::parse_midi_file(std::span(data, size), "fuzz.mid");
    if (!read) {
        const std::string& message = read.error().message;
        check(message.rfind("Error: MIDI file 'fuzz.mid': ", 0) == 0 && message.back() == '\n');
        return 0;
    }
    check_file(read.value());
    if (read->length_seconds <= longest_round_trip) {
        check_round_trip(read.value());
        check_sequences(read.value());
    }
    return 0;
}
