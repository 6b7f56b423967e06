#include "lv2/midi_events.h"

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/midi/midi.h>
#include <lv2/time/time.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tonbrix {

namespace {

// A time:Position carries eight properties, each a primitive of at most
// eight bytes.
constexpr std::size_t position_properties = 8;
constexpr std::int64_t beats_per_bar = 4;
constexpr std::int64_t no_frame = std::numeric_limits<std::int64_t>::max();

std::size_t padded(std::size_t size)
{
    return (size + 7) & ~std::size_t{7};
}

// A forge that writes into `buffer` with the caller's URIDs (no URID map).
LV2_Atom_Forge make_forge(const EventUrids& urids, AtomRegion buffer)
{
    LV2_Atom_Forge forge{};
    forge.Sequence = urids.atom_Sequence;
    forge.Object = urids.atom_Object;
    forge.Int = urids.atom_Int;
    forge.Long = urids.atom_Long;
    forge.Float = urids.atom_Float;
    forge.Double = urids.atom_Double;
    lv2_atom_forge_set_buffer(&forge, static_cast<std::uint8_t*>(buffer.data), buffer.capacity);
    return forge;
}

void forge_position(LV2_Atom_Forge& forge, const EventUrids& urids, std::int64_t offset,
                    const TransportPosition& position)
{
    const double bar = std::floor(position.beat / beats_per_bar);
    lv2_atom_forge_frame_time(&forge, offset);
    LV2_Atom_Forge_Frame object;
    lv2_atom_forge_object(&forge, &object, 0, urids.time_Position);
    lv2_atom_forge_key(&forge, urids.time_frame);
    lv2_atom_forge_long(&forge, position.frame);
    lv2_atom_forge_key(&forge, urids.time_speed);
    lv2_atom_forge_float(&forge, 1.0f);
    lv2_atom_forge_key(&forge, urids.time_bar);
    lv2_atom_forge_long(&forge, static_cast<std::int64_t>(bar));
    lv2_atom_forge_key(&forge, urids.time_barBeat);
    lv2_atom_forge_float(&forge, static_cast<float>(position.beat - bar * beats_per_bar));
    lv2_atom_forge_key(&forge, urids.time_beat);
    lv2_atom_forge_double(&forge, position.beat);
    lv2_atom_forge_key(&forge, urids.time_beatUnit);
    lv2_atom_forge_int(&forge, 4);
    lv2_atom_forge_key(&forge, urids.time_beatsPerBar);
    lv2_atom_forge_float(&forge, static_cast<float>(beats_per_bar));
    lv2_atom_forge_key(&forge, urids.time_beatsPerMinute);
    lv2_atom_forge_float(&forge, static_cast<float>(position.bpm));
    lv2_atom_forge_pop(&forge, &object);
}

void forge_midi(LV2_Atom_Forge& forge, const EventUrids& urids, std::int64_t offset,
                std::span<const std::uint8_t> bytes)
{
    lv2_atom_forge_frame_time(&forge, offset);
    lv2_atom_forge_atom(&forge, static_cast<std::uint32_t>(bytes.size()), urids.midi_MidiEvent);
    lv2_atom_forge_write(&forge, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

enum class ItemKind { position, event, given };

// The next item of the source, in the order the sequence takes them.
struct NextItem {
    std::int64_t frame = no_frame;
    ItemKind kind = ItemKind::position;
};

NextItem next_item(const EventSource& source, EventCursor cursor)
{
    NextItem item;
    if (cursor.position < source.positions.size()) {
        item = {source.positions[cursor.position].frame, ItemKind::position};
    }
    if (cursor.event < source.events.size()) {
        const std::int64_t frame = frame_of(source.events[cursor.event].seconds, source.rate);
        if (frame < item.frame) {
            item = {frame, ItemKind::event};
        }
    }
    if (cursor.given < source.given.size()) {
        const std::uint64_t given = source.given[cursor.given].frame;
        const std::int64_t frame =
            given >= static_cast<std::uint64_t>(no_frame) ? no_frame - 1
                                                          : static_cast<std::int64_t>(given);
        if (frame < item.frame) {
            item = {frame, ItemKind::given};
        }
    }
    return item;
}

// The MIDI bytes of an event item.
std::span<const std::uint8_t> item_midi(const EventSource& source, EventCursor cursor,
                                        ItemKind kind)
{
    return kind == ItemKind::event ? std::span<const std::uint8_t>(source.events[cursor.event].bytes)
                                   : std::span<const std::uint8_t>(source.given[cursor.given].bytes);
}

// The bytes an item takes in a sequence; 0 for an empty MIDI event, which is
// never written.
std::size_t item_bytes(const EventSource& source, EventCursor cursor, ItemKind kind)
{
    if (kind == ItemKind::position) {
        return position_event_bytes();
    }
    const std::size_t size = item_midi(source, cursor, kind).size();
    return size == 0 ? 0 : midi_event_bytes(size);
}

void advance(EventCursor& cursor, ItemKind kind)
{
    ++(kind == ItemKind::position ? cursor.position
       : kind == ItemKind::event  ? cursor.event
                                  : cursor.given);
}

} // namespace

EventUrids map_event_urids(const LV2_URID_Map& map)
{
    const auto id = [&](const char* uri) { return map.map(map.handle, uri); };
    EventUrids urids;
    urids.atom_Chunk = id(LV2_ATOM__Chunk);
    urids.atom_Sequence = id(LV2_ATOM__Sequence);
    urids.atom_Object = id(LV2_ATOM__Object);
    urids.atom_Int = id(LV2_ATOM__Int);
    urids.atom_Long = id(LV2_ATOM__Long);
    urids.atom_Float = id(LV2_ATOM__Float);
    urids.atom_Double = id(LV2_ATOM__Double);
    urids.midi_MidiEvent = id(LV2_MIDI__MidiEvent);
    urids.time_Position = id(LV2_TIME__Position);
    urids.time_frame = id(LV2_TIME__frame);
    urids.time_speed = id(LV2_TIME__speed);
    urids.time_bar = id(LV2_TIME__bar);
    urids.time_barBeat = id(LV2_TIME__barBeat);
    urids.time_beat = id(LV2_TIME__beat);
    urids.time_beatUnit = id(LV2_TIME__beatUnit);
    urids.time_beatsPerBar = id(LV2_TIME__beatsPerBar);
    urids.time_beatsPerMinute = id(LV2_TIME__beatsPerMinute);
    return urids;
}

std::size_t midi_event_bytes(std::size_t size)
{
    return sizeof(LV2_Atom_Event) + padded(size);
}

std::size_t position_event_bytes()
{
    return sizeof(LV2_Atom_Event) + sizeof(LV2_Atom_Object_Body) +
           position_properties * (sizeof(LV2_Atom_Property_Body) + sizeof(std::uint64_t));
}

BlockEvents write_block_events(const EventSource& source, EventCursor cursor,
                               std::int64_t block_start, std::uint32_t frames,
                               const EventUrids& urids, AtomRegion buffer)
{
    BlockEvents result;
    const std::int64_t block_end = block_start + frames;
    const bool usable = buffer.data != nullptr && buffer.capacity >= sizeof(LV2_Atom_Sequence);
    LV2_Atom_Forge forge = make_forge(urids, usable ? buffer : AtomRegion{});
    LV2_Atom_Forge_Frame sequence;
    if (usable) {
        lv2_atom_forge_sequence_head(&forge, &sequence, 0);
    }
    for (NextItem item = next_item(source, cursor); item.frame < block_end;
         item = next_item(source, cursor)) {
        const std::size_t bytes = item_bytes(source, cursor, item.kind);
        if (bytes == 0) {
            advance(cursor, item.kind);
            continue;
        }
        if (!usable || bytes > forge.size - forge.offset) {
            ++result.left_out;
            advance(cursor, item.kind);
            continue;
        }
        const std::int64_t offset = std::max<std::int64_t>(item.frame - block_start, 0);
        if (item.kind == ItemKind::position) {
            forge_position(forge, urids, offset, source.positions[cursor.position]);
        } else {
            forge_midi(forge, urids, offset, item_midi(source, cursor, item.kind));
        }
        ++result.written;
        advance(cursor, item.kind);
    }
    if (usable) {
        lv2_atom_forge_pop(&forge, &sequence);
    }
    result.next = cursor;
    return result;
}

std::size_t sequence_capacity_needed(const EventSource& source, std::uint32_t frames)
{
    std::size_t fullest = 0;
    std::size_t filled = 0;
    std::int64_t block = 0;
    EventCursor cursor;
    for (NextItem item = next_item(source, cursor); item.frame != no_frame;
         item = next_item(source, cursor)) {
        const std::int64_t item_block =
            frames == 0 ? 0 : std::max<std::int64_t>(item.frame, 0) / frames;
        if (item_block != block) {
            block = item_block;
            filled = 0;
        }
        filled += item_bytes(source, cursor, item.kind);
        fullest = std::max(fullest, filled);
        advance(cursor, item.kind);
    }
    return sizeof(LV2_Atom_Sequence) + fullest;
}

void reset_output_sequence(AtomRegion buffer, const EventUrids& urids)
{
    if (buffer.data == nullptr || buffer.capacity < sizeof(LV2_Atom)) {
        return;
    }
    const LV2_Atom chunk = {buffer.capacity - static_cast<std::uint32_t>(sizeof(LV2_Atom)),
                            urids.atom_Chunk};
    std::memcpy(buffer.data, &chunk, sizeof chunk);
}

namespace {

// Calls `take(frame in the block, bytes)` for each MIDI event of the output
// sequence in `buffer`, as read_block_events reads them.
template <class Take>
void for_each_block_event(AtomRegion buffer, std::uint32_t frames, const EventUrids& urids,
                          Take take)
{
    if (buffer.data == nullptr || buffer.capacity < sizeof(LV2_Atom_Sequence)) {
        return;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(buffer.data);
    LV2_Atom atom;
    std::memcpy(&atom, bytes, sizeof atom);
    if (atom.type != urids.atom_Sequence) {
        return;
    }
    const std::size_t end =
        std::min<std::size_t>(sizeof(LV2_Atom) + std::size_t{atom.size}, buffer.capacity);
    const std::int64_t last_frame = frames == 0 ? 0 : frames - 1;
    std::size_t at = sizeof(LV2_Atom_Sequence);
    while (end >= at && end - at >= sizeof(LV2_Atom_Event)) {
        LV2_Atom_Event event;
        std::memcpy(&event, bytes + at, sizeof event);
        const std::size_t body = at + sizeof(LV2_Atom_Event);
        if (event.body.size > end - body) {
            break;
        }
        if (event.body.type == urids.midi_MidiEvent && event.body.size > 0) {
            take(std::clamp<std::int64_t>(event.time.frames, 0, last_frame),
                 std::span<const std::uint8_t>(bytes + body, event.body.size));
        }
        at = body + padded(event.body.size);
    }
}

} // namespace

void read_block_events(AtomRegion buffer, std::int64_t block_start, std::uint32_t frames,
                       double rate, const EventUrids& urids, std::vector<TimedMidiEvent>& out)
{
    for_each_block_event(buffer, frames, urids,
                         [&](std::int64_t frame, std::span<const std::uint8_t> bytes) {
                             out.push_back({static_cast<double>(block_start + frame) / rate,
                                            std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
                         });
}

void read_block_events(AtomRegion buffer, std::uint64_t block_start, std::uint32_t frames,
                       const EventUrids& urids, std::vector<StreamEvent>& out)
{
    for_each_block_event(buffer, frames, urids,
                         [&](std::int64_t frame, std::span<const std::uint8_t> bytes) {
                             out.push_back({block_start + static_cast<std::uint64_t>(frame),
                                            std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
                         });
}

} // namespace tonbrix
