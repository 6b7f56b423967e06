#pragma once

#include <lv2/urid/urid.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

// The process-wide URI interning table. A URID is the 1-based position of
// the URI in order of first mapping. Each string lives at a stable address
// (a deque never moves its elements), so unmap results stay valid.
// Plugins may map and unmap from several threads at once (instances run side
// by side), so every access holds the mutex.
struct UridTable {
    std::mutex mutex;
    std::deque<std::string> entries;
    std::unordered_map<std::string_view, LV2_URID> index;
};

extern UridTable g_urid_table;

extern "C" {
// Ignores its handle; returns 0 only when memory runs out (table unchanged).
LV2_URID urid_map(LV2_URID_Map_Handle handle, const char* uri);
// URID n gives the URI at position n - 1; 0 and unknown URIDs give null.
const char* urid_unmap(LV2_URID_Unmap_Handle handle, LV2_URID urid);
}

// Releases every entry, first to last. The table is empty afterwards.
void urid_table_free() noexcept;

// The records handed to lilv and to plugins. They refer to the global table.
extern LV2_URID_Map g_urid_map_record;
extern LV2_URID_Unmap g_urid_unmap_record;

// Frees the table when the program leaves main, after everything else.
struct UridTableRelease {
    UridTableRelease() = default;
    UridTableRelease(const UridTableRelease&) = delete;
    UridTableRelease& operator=(const UridTableRelease&) = delete;
    ~UridTableRelease() { urid_table_free(); }
};
