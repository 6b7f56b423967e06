#include "lv2/presets.h"

#include <lv2/atom/atom.h>
#include <lv2/state/state.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace tonbrix {

namespace {

// Converts a numeric atom value to a float; false for other types or when
// the value is shorter than its type.
bool numeric_value(const void* value, uint32_t size, uint32_t type, const Urids& urids,
                   float& result)
{
    auto read = [&](auto sample) {
        if (size < sizeof(sample)) {
            return false;
        }
        std::memcpy(&sample, value, sizeof(sample));
        result = static_cast<float>(sample);
        return true;
    };
    if (type == 0 || type == urids.atom_Float) {
        return read(float{});
    }
    if (type == urids.atom_Double) {
        return read(double{});
    }
    if (type == urids.atom_Int) {
        return read(int32_t{});
    }
    if (type == urids.atom_Long) {
        return read(int64_t{});
    }
    if (type == urids.atom_Bool) {
        if (!read(int32_t{})) {
            return false;
        }
        result = result != 0.0f ? 1.0f : 0.0f;
        return true;
    }
    return false;
}

} // namespace

extern "C" void set_port_value(const char* port_symbol, void* user_data, const void* value,
                               uint32_t size, uint32_t type)
{
    auto* target = static_cast<PortValueTarget*>(user_data);
    float number = 0.0f;
    if (target == nullptr || value == nullptr || port_symbol == nullptr ||
        !numeric_value(value, size, type, *target->urids, number)) {
        return;
    }
    for (uint32_t i = 0; i < target->port_count; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(target->plugin, i);
        const char* symbol = lilv_node_as_string(lilv_port_get_symbol(target->plugin, port));
        if (std::strcmp(symbol, port_symbol) == 0) {
            target->values[i] = number;
            return;
        }
    }
}

namespace {

// Calls visit(preset, label) for every preset with a label, by label and
// presets of one label by URI, until it returns false. lilv gives them in
// the order of its nodes' addresses, which differs from one process to the
// next with the heap's history (argv, the bundles' paths): one fixed order
// makes every listing and -P agree.
template <class Visit>
void for_each_labelled_preset(LilvWorld* world, const LilvPlugin* plugin, const UriNodes& nodes,
                              Visit visit)
{
    NodesPtr presets(lilv_plugin_get_related(plugin, nodes.preset.get()));
    if (!presets) {
        return;
    }
    struct Labelled {
        const LilvNode* preset;
        std::string label;
    };
    std::vector<Labelled> found;
    LILV_FOREACH (nodes, it, presets.get()) {
        const LilvNode* preset = lilv_nodes_get(presets.get(), it);
        lilv_world_load_resource(world, preset);
        NodesPtr labels(lilv_world_find_nodes(world, preset, nodes.rdfs_label.get(), nullptr));
        const LilvNode* first = labels ? lilv_nodes_get_first(labels.get()) : nullptr;
        if (first != nullptr) {
            found.push_back({preset, lilv_node_as_string(first)});
        }
    }
    std::sort(found.begin(), found.end(), [](const Labelled& a, const Labelled& b) {
        const int by_label = a.label.compare(b.label);
        return by_label != 0 ? by_label < 0
                             : std::strcmp(lilv_node_as_uri(a.preset), lilv_node_as_uri(b.preset)) < 0;
    });
    for (const Labelled& preset : found) {
        if (!visit(preset.preset, preset.label.c_str())) {
            return;
        }
    }
}

} // namespace

std::vector<PresetLabel> preset_labels(LilvWorld* world, const LilvPlugin* plugin,
                                       const UriNodes& nodes)
{
    std::vector<PresetLabel> found;
    for_each_labelled_preset(world, plugin, nodes, [&](const LilvNode* preset, const char* label) {
        found.push_back({lilv_node_as_uri(preset), label});
        return true;
    });
    return found;
}

namespace {

// The canonical path of a file: URI; empty for other URIs.
std::string file_uri_path(const LilvNode* node)
{
    if (node == nullptr || !lilv_node_is_uri(node) ||
        std::strncmp(lilv_node_as_uri(node), "file:", 5) != 0) {
        return {};
    }
    char* parsed = lilv_file_uri_parse(lilv_node_as_uri(node), nullptr);
    if (parsed == nullptr) {
        return {};
    }
    std::string path(parsed);
    lilv_free(parsed);
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    return error ? path : canonical.string();
}

// The files that hold a preset's data: its own file: URI, then the files
// its rdfs:seeAlso names.
std::vector<std::string> preset_files(LilvWorld* world, const LilvNode* preset)
{
    std::vector<std::string> files;
    if (std::string own = file_uri_path(preset); !own.empty()) {
        files.push_back(std::move(own));
    }
    const NodePtr see_also(lilv_new_uri(world, LILV_NS_RDFS "seeAlso"));
    const NodesPtr others(lilv_world_find_nodes(world, preset, see_also.get(), nullptr));
    if (others) {
        LILV_FOREACH (nodes, it, others.get()) {
            if (std::string file = file_uri_path(lilv_nodes_get(others.get(), it));
                !file.empty()) {
                files.push_back(std::move(file));
            }
        }
    }
    return files;
}

// True when a plugin of the world comes from the bundle folder.
bool holds_a_plugin(LilvWorld* world, const std::string& bundle)
{
    const LilvPlugins* plugins = lilv_world_get_all_plugins(world);
    LILV_FOREACH (plugins, it, plugins) {
        const LilvPlugin* plugin = lilv_plugins_get(plugins, it);
        std::string folder = file_uri_path(lilv_plugin_get_bundle_uri(plugin));
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
        if (folder == bundle) {
            return true;
        }
    }
    return false;
}

// The one preset of the plugin in the bundle at `path` (a bundle folder, or
// a file in one, which must then hold the preset), loading the bundle first;
// null when there is none or more than one.
StatePtr preset_at_path(LilvWorld* world, const LilvPlugin* plugin, const UriNodes& nodes,
                        std::string_view path, LV2_URID_Map* map)
{
    std::error_code error;
    const std::filesystem::path given(path);
    const std::filesystem::file_status status = std::filesystem::status(given, error);
    if (path.empty() || error || !std::filesystem::exists(status)) {
        return nullptr;
    }
    const std::filesystem::path canonical = std::filesystem::canonical(given, error);
    if (error) {
        return nullptr;
    }
    const bool folder = std::filesystem::is_directory(status);
    const std::string bundle = folder ? canonical.string() : canonical.parent_path().string();
    const std::string file = folder ? std::string() : canonical.string();
    // Only a bundle: lilv complains about a folder without a manifest.
    if (!std::filesystem::is_regular_file(bundle + "/manifest.ttl", error)) {
        return nullptr;
    }
    const NodePtr bundle_uri(lilv_new_file_uri(world, nullptr, (bundle + "/").c_str()));
    if (!bundle_uri) {
        return nullptr;
    }
    // A bundle of plugins is loaded already (lilv warns when it reloads one).
    if (!holds_a_plugin(world, bundle)) {
        lilv_world_load_bundle(world, bundle_uri.get());
    }
    const NodesPtr presets(lilv_plugin_get_related(plugin, nodes.preset.get()));
    if (!presets) {
        return nullptr;
    }
    const LilvNode* found = nullptr;
    LILV_FOREACH (nodes, it, presets.get()) {
        const LilvNode* preset = lilv_nodes_get(presets.get(), it);
        const std::vector<std::string> files = preset_files(world, preset);
        const bool inside = !files.empty() &&
                            std::filesystem::path(files.front()).parent_path() == bundle &&
                            (file.empty() || std::find(files.begin(), files.end(), file) !=
                                                 files.end());
        if (inside) {
            if (found != nullptr) {
                return nullptr;
            }
            found = preset;
        }
    }
    if (found == nullptr) {
        return nullptr;
    }
    lilv_world_load_resource(world, found);
    return StatePtr(lilv_state_new_from_world(world, map, found));
}

} // namespace

StatePtr find_preset(LilvWorld* world, const LilvPlugin* plugin, const UriNodes& nodes,
                     std::string_view name, LV2_URID_Map* map)
{
    StatePtr state;
    for_each_labelled_preset(world, plugin, nodes, [&](const LilvNode* preset, const char* label) {
        if (name != label) {
            return true;
        }
        state.reset(lilv_state_new_from_world(world, map, preset));
        return false;
    });
    if (state) {
        return state;
    }
    if (const NodesPtr presets(lilv_plugin_get_related(plugin, nodes.preset.get())); presets) {
        LILV_FOREACH (nodes, it, presets.get()) {
            const LilvNode* preset = lilv_nodes_get(presets.get(), it);
            if (name == lilv_node_as_uri(preset)) {
                lilv_world_load_resource(world, preset);
                return StatePtr(lilv_state_new_from_world(world, map, preset));
            }
        }
    }
    // A file: URI of a preset outside the world is read as its path.
    if (name.starts_with("file:")) {
        const std::string uri(name);
        if (char* path = lilv_file_uri_parse(uri.c_str(), nullptr); path != nullptr) {
            const std::string text(path);
            lilv_free(path);
            return preset_at_path(world, plugin, nodes, text, map);
        }
    }
    return preset_at_path(world, plugin, nodes, name, map);
}

void load_bundles_in(LilvWorld* world, const std::string& folder)
{
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string bundle = it->path().string();
        std::error_code ignored;
        if (!it->is_directory(ignored) ||
            !std::filesystem::is_regular_file(bundle + "/manifest.ttl", ignored) ||
            holds_a_plugin(world, bundle)) {
            continue;
        }
        const NodePtr uri(lilv_new_file_uri(world, nullptr, (bundle + "/").c_str()));
        if (uri) {
            lilv_world_load_bundle(world, uri.get());
        }
    }
}

std::string preset_bundle_folder(LilvWorld* world, const LilvNode* preset)
{
    const std::vector<std::string> files = preset_files(world, preset);
    return files.empty() ? std::string()
                         : std::filesystem::path(files.front()).parent_path().string();
}

StatePtr load_default_state(LilvWorld* world, const LilvPlugin* plugin, LV2_URID_Map* map)
{
    const LilvNode* uri = lilv_plugin_get_uri(plugin);
    NodePtr state_property(lilv_new_uri(world, LV2_STATE__state));
    if (!lilv_world_ask(world, uri, state_property.get(), nullptr)) {
        return nullptr;
    }
    return StatePtr(lilv_state_new_from_world(world, map, uri));
}

} // namespace tonbrix
