#include "lv2/urid_table.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/log/log.h>
#include <lv2/parameters/parameters.h>

namespace tonbrix {

namespace {

extern "C" LV2_URID map_callback(LV2_URID_Map_Handle handle, const char* uri)
{
    return uri == nullptr ? 0 : static_cast<UridTable*>(handle)->map(uri);
}

extern "C" const char* unmap_callback(LV2_URID_Unmap_Handle handle, LV2_URID urid)
{
    return static_cast<const UridTable*>(handle)->unmap(urid);
}

} // namespace

UridTable::UridTable() noexcept
    : map_record_{this, map_callback}, unmap_record_{this, unmap_callback}
{
}

LV2_URID UridTable::map(std::string_view uri) noexcept
{
    try {
        const std::lock_guard lock(mutex_);
        if (auto found = index_.find(uri); found != index_.end()) {
            return found->second;
        }
        entries_.emplace_back(uri);
        try {
            const auto urid = static_cast<LV2_URID>(entries_.size());
            index_.emplace(std::string_view(entries_.back()), urid);
            return urid;
        } catch (...) {
            entries_.pop_back();
            throw;
        }
    } catch (...) {
        return 0;
    }
}

const char* UridTable::unmap(LV2_URID urid) const noexcept
{
    const std::lock_guard lock(mutex_);
    if (urid == 0 || urid > entries_.size()) {
        return nullptr;
    }
    return entries_[urid - 1].c_str();
}

std::size_t UridTable::size() const noexcept
{
    const std::lock_guard lock(mutex_);
    return entries_.size();
}

bool map_urids(UridTable& table, Urids& u) noexcept
{
    const std::pair<LV2_URID*, const char*> uris[] = {
        {&u.atom_Bool, LV2_ATOM__Bool},
        {&u.atom_Chunk, LV2_ATOM__Chunk},
        {&u.atom_Double, LV2_ATOM__Double},
        {&u.atom_Float, LV2_ATOM__Float},
        {&u.atom_Int, LV2_ATOM__Int},
        {&u.atom_Long, LV2_ATOM__Long},
        {&u.atom_Sequence, LV2_ATOM__Sequence},
        {&u.buf_maxBlockLength, LV2_BUF_SIZE__maxBlockLength},
        {&u.buf_minBlockLength, LV2_BUF_SIZE__minBlockLength},
        {&u.buf_nominalBlockLength, LV2_BUF_SIZE__nominalBlockLength},
        {&u.buf_sequenceSize, LV2_BUF_SIZE__sequenceSize},
        {&u.log_Error, LV2_LOG__Error},
        {&u.log_Warning, LV2_LOG__Warning},
        {&u.param_sampleRate, LV2_PARAMETERS__sampleRate},
    };
    for (const auto& [urid, uri] : uris) {
        *urid = table.map(uri);
        if (*urid == 0) {
            return false;
        }
    }
    return true;
}

} // namespace tonbrix
