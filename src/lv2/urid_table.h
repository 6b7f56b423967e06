#pragma once

#include <lv2/urid/urid.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tonbrix {

// A world's URI interning table. A URID is the 1-based position of the URI
// in order of first mapping. Each string lives at a stable address (a deque
// never moves its elements), so unmap results stay valid while the table
// lives. Plugins may map and unmap from several threads at once (instances
// run side by side), so every access holds the mutex. Plugins keep the
// records it hands out, so it neither copies nor moves.
class UridTable {
public:
    UridTable() noexcept;
    UridTable(const UridTable&) = delete;
    UridTable& operator=(const UridTable&) = delete;

    // 0 only when memory runs out (the table is then unchanged).
    LV2_URID map(std::string_view uri) noexcept;
    // URID n gives the URI at position n - 1; 0 and unknown URIDs give null.
    const char* unmap(LV2_URID urid) const noexcept;
    // The number of URIs mapped.
    std::size_t size() const noexcept;

    // The records handed to lilv and to plugins; they point to this table.
    LV2_URID_Map* map_feature() noexcept { return &map_record_; }
    LV2_URID_Unmap* unmap_feature() noexcept { return &unmap_record_; }

private:
    mutable std::mutex mutex_;
    std::deque<std::string> entries_;
    std::unordered_map<std::string_view, LV2_URID> index_;
    LV2_URID_Map map_record_;
    LV2_URID_Unmap unmap_record_;
};

// The URIDs the host itself uses, mapped once when a world is made.
struct Urids {
    LV2_URID atom_Bool;
    LV2_URID atom_Chunk;
    LV2_URID atom_Double;
    LV2_URID atom_Float;
    LV2_URID atom_Int;
    LV2_URID atom_Long;
    LV2_URID atom_Sequence;
    LV2_URID buf_maxBlockLength;
    LV2_URID buf_minBlockLength;
    LV2_URID buf_nominalBlockLength;
    LV2_URID buf_sequenceSize;
    LV2_URID log_Error;
    LV2_URID log_Warning;
    LV2_URID param_sampleRate;
};

// Maps every URI of Urids; false when memory runs out.
bool map_urids(UridTable& table, Urids& urids) noexcept;

} // namespace tonbrix
