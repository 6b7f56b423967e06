#include "lv2/world.h"

#include "base/int_text.h"

#include "base/buffers.h"
#include "lv2/lv2_path.h"
#include "lv2/plugin_lookup.h"

#include <string>

namespace tonbrix {

World::World(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
World::World(World&&) noexcept = default;
World& World::operator=(World&&) noexcept = default;
World::~World() = default;

Result<World> World::load()
{
    auto impl = std::make_unique<Impl>();
    impl->lilv.reset(lilv_world_new());
    if (!impl->lilv) {
        return Error{"Error: failed to instantiate Lilv World\n"};
    }
    if (!map_urids(impl->urid_table, impl->urids) ||
        !make_uri_nodes(impl->lilv.get(), impl->nodes)) {
        return Error{insufficient_memory_message};
    }
    // lilv cannot turn a relative bundle folder into a URI, so LV2_PATH
    // reaches it with every entry made absolute.
    std::string path;
    if (lv2_path_from_environment(path)) {
        const NodePtr value(lilv_new_string(impl->lilv.get(), path.c_str()));
        lilv_world_set_option(impl->lilv.get(), LILV_OPTION_LV2_PATH, value.get());
    }
    lilv_world_load_all(impl->lilv.get());
    impl->plugins = lilv_world_get_all_plugins(impl->lilv.get());
    return World(std::move(impl));
}

std::vector<std::string> World::plugin_uris() const
{
    std::vector<std::string> uris;
    LILV_FOREACH (plugins, it, impl_->plugins) {
        const LilvPlugin* plugin = lilv_plugins_get(impl_->plugins, it);
        uris.emplace_back(lilv_node_as_uri(lilv_plugin_get_uri(plugin)));
    }
    return uris;
}

std::optional<std::string> World::plugin_uri(std::size_t number) const
{
    if (number < 1 || number > lilv_plugins_size(impl_->plugins)) {
        return std::nullopt;
    }
    const LilvPlugin* plugin = plugin_at_index(impl_->plugins, static_cast<int>(number - 1));
    if (plugin == nullptr) {
        return std::nullopt;
    }
    return std::string(lilv_node_as_uri(lilv_plugin_get_uri(plugin)));
}

bool World::has_plugin(std::string_view uri) const
{
    return find_lilv_plugin(*impl_, uri) != nullptr;
}

std::optional<std::string> World::find_plugin(std::string_view text) const
{
    const std::string whole(text);
    const int number = saturating_atoi(whole.c_str());
    const LilvPlugin* plugin = nullptr;
    if (number != 0) {
        // INT_MIN - 1 cannot be formed; any number below 1 selects nothing.
        plugin = number < 1 ? nullptr : plugin_at_index(impl_->plugins, number - 1);
    } else {
        plugin = find_lilv_plugin(*impl_, text);
    }
    if (plugin == nullptr) {
        return std::nullopt;
    }
    return std::string(lilv_node_as_uri(lilv_plugin_get_uri(plugin)));
}

const LilvPlugin* find_lilv_plugin(const World::Impl& world, std::string_view uri)
{
    const std::string text(uri);
    return plugin_by_uri(text.c_str(), world.plugins, world.lilv.get());
}

} // namespace tonbrix
