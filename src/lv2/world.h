#pragma once

#include "lv2/lilv_owners.h"
#include "lv2/uri_nodes.h"
#include "lv2/urid_table.h"

#include <tonbrix/world.h>

namespace tonbrix {

// What a world owns, in release order reversed: the URID table first (lilv
// states and plugin instances point into it until they are gone), the host
// URIDs, the lilv world with every plugin loaded, and its URI nodes.
struct World::Impl {
    UridTable urid_table;
    Urids urids{};
    WorldPtr lilv;
    const LilvPlugins* plugins = nullptr;
    UriNodes nodes;
};

// The library's way into a world's LV2 side.
struct WorldAccess {
    static World::Impl& impl(const World& world) noexcept { return *world.impl_; }
};

// The plugin with this URI in the world, or null.
const LilvPlugin* find_lilv_plugin(const World::Impl& world, std::string_view uri);

} // namespace tonbrix
