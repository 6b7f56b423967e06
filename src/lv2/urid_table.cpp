#include "lv2/urid_table.h"

#include <new>

UridTable g_urid_table;
LV2_URID_Map g_urid_map_record = {nullptr, urid_map};
LV2_URID_Unmap g_urid_unmap_record = {nullptr, urid_unmap};

extern "C" LV2_URID urid_map(LV2_URID_Map_Handle, const char* uri)
{
    if (uri == nullptr) {
        return 0;
    }
    UridTable& table = g_urid_table;
    const std::lock_guard lock(table.mutex);
    const std::string_view key(uri);
    if (auto found = table.index.find(key); found != table.index.end()) {
        return found->second;
    }
    try {
        table.entries.emplace_back(key);
        try {
            const auto urid = static_cast<LV2_URID>(table.entries.size());
            table.index.emplace(std::string_view(table.entries.back()), urid);
            return urid;
        } catch (...) {
            table.entries.pop_back();
            throw;
        }
    } catch (...) {
        return 0;
    }
}

extern "C" const char* urid_unmap(LV2_URID_Unmap_Handle, LV2_URID urid)
{
    UridTable& table = g_urid_table;
    const std::lock_guard lock(table.mutex);
    if (urid == 0 || urid > table.entries.size()) {
        return nullptr;
    }
    return table.entries[urid - 1].c_str();
}

void urid_table_free() noexcept
{
    const std::lock_guard lock(g_urid_table.mutex);
    decltype(g_urid_table.index)().swap(g_urid_table.index);
    while (!g_urid_table.entries.empty()) {
        g_urid_table.entries.pop_front();
    }
    g_urid_table.entries.shrink_to_fit();
}
