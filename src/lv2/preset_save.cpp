#include "lv2/preset_save.h"

#include "lv2/presets.h"

#include <lv2/atom/atom.h>
#include <lv2/state/state.h>

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace tonbrix {

namespace fs = std::filesystem;

namespace {

// Each byte that is not an ASCII letter or digit becomes '_', as jalv does.
std::string symbolised(std::string_view text)
{
    constexpr std::size_t longest = 96;
    std::string out(text.substr(0, longest));
    for (char& c : out) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum) {
            c = '_';
        }
    }
    return out;
}

std::string in_quotes(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '\'';
    out += text;
    out += '\'';
    return out;
}

std::string plugin_name(const LilvPlugin* plugin)
{
    const NodePtr name(lilv_plugin_get_name(plugin));
    if (name) {
        return lilv_node_as_string(name.get());
    }
    const std::string uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
    const std::size_t cut = uri.find_last_of("/#");
    return cut == std::string::npos ? uri : uri.substr(cut + 1);
}

// Makes the folder (and its parents) and checks that a folder can be made
// in it; the reason otherwise.
std::string writable_folder_problem(const std::string& folder)
{
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        return error.message();
    }
    std::string probe = folder + "/.tonbrix-preset-XXXXXX";
    if (::mkdtemp(probe.data()) == nullptr) {
        return std::strerror(errno);
    }
    ::rmdir(probe.c_str());
    return {};
}

// The presets of every plugin in the world.
std::vector<const LilvNode*> all_presets(LilvWorld* world, const UriNodes& nodes,
                                         NodesPtr& holder)
{
    const NodePtr rdf_type(lilv_new_uri(world, LILV_NS_RDF "type"));
    holder.reset(lilv_world_find_nodes(world, nullptr, rdf_type.get(), nodes.preset.get()));
    std::vector<const LilvNode*> presets;
    if (holder) {
        LILV_FOREACH (nodes, it, holder.get()) {
            presets.push_back(lilv_nodes_get(holder.get(), it));
        }
    }
    return presets;
}

// A name in the folder that nothing has yet: `name`, else with _2, _3, ...
// before the ".preset.lv2".
std::string free_bundle_path(const std::string& folder, const std::string& name)
{
    constexpr std::string_view suffix = ".preset.lv2";
    const std::string stem = name.substr(0, name.size() - suffix.size());
    std::string candidate = folder + "/" + name;
    for (int n = 2; n < 10000; ++n) {
        std::error_code error;
        if (!fs::exists(fs::symlink_status(candidate, error))) {
            return candidate;
        }
        candidate = folder + "/" + stem + "_" + std::to_string(n) + std::string(suffix);
    }
    return candidate;
}

const char* state_status_text(LV2_State_Status status)
{
    switch (status) {
    case LV2_STATE_SUCCESS:
        return "success";
    case LV2_STATE_ERR_BAD_TYPE:
        return "a value of a type it cannot store";
    case LV2_STATE_ERR_BAD_FLAGS:
        return "flags it cannot store with";
    case LV2_STATE_ERR_NO_FEATURE:
        return "a feature it lacks";
    case LV2_STATE_ERR_NO_PROPERTY:
        return "a property it lacks";
    case LV2_STATE_ERR_NO_SPACE:
        return "no space";
    case LV2_STATE_ERR_UNKNOWN:
    default:
        return "an unknown error";
    }
}

constexpr uint32_t save_flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;

// The values a port value callback hands to lilv.
struct PortValueSource {
    const std::vector<SavedPortValue>* values;
    LV2_URID float_type;
};

extern "C" {

// Takes every value and keeps none: the save is only tried.
LV2_State_Status discard_stored_value(LV2_State_Handle, uint32_t, const void*, size_t, uint32_t,
                                      uint32_t)
{
    return LV2_STATE_SUCCESS;
}

// lilv's port value callback: the value of the control input with this
// symbol, as a float; null for other ports.
const void* saved_port_value(const char* port_symbol, void* user_data, uint32_t* size,
                             uint32_t* type)
{
    const auto* source = static_cast<const PortValueSource*>(user_data);
    for (const SavedPortValue& value : *source->values) {
        if (value.symbol == port_symbol) {
            *size = sizeof(float);
            *type = source->float_type;
            return &value.value;
        }
    }
    *size = 0;
    *type = 0;
    return nullptr;
}

} // extern "C"

// Tries the plugin's own save with a store that keeps nothing, so that a
// failure is found before lilv writes anything; its message otherwise.
Status try_plugin_save(const InstanceToSave& saved)
{
    const auto* state = static_cast<const LV2_State_Interface*>(
        lilv_instance_get_extension_data(saved.instance, LV2_STATE__interface));
    if (state == nullptr || state->save == nullptr) {
        return {};
    }
    const LV2_State_Status status = state->save(lilv_instance_get_handle(saved.instance),
                                                discard_stored_value, nullptr, save_flags,
                                                saved.features);
    if (status != LV2_STATE_SUCCESS) {
        return Error{std::string("Error: the plugin could not save its state: it reported ") +
                     state_status_text(status) + ".\n"};
    }
    return {};
}

// The instance's features without the path features: lilv gives the
// plugin its own, which map paths into the bundle.
std::vector<const LV2_Feature*> save_features(const LV2_Feature* const* features)
{
    std::vector<const LV2_Feature*> kept;
    for (std::size_t i = 0; features != nullptr && features[i] != nullptr; ++i) {
        const std::string_view uri(features[i]->URI);
        if (uri != LV2_STATE__mapPath && uri != LV2_STATE__makePath &&
            uri != LV2_STATE__freePath) {
            kept.push_back(features[i]);
        }
    }
    kept.push_back(nullptr);
    return kept;
}

// A new empty folder beside the bundle, with the mode a new folder gets.
Result<std::string> make_staging_folder(const PresetTarget& target)
{
    const std::string base =
        target.folder + "/." + fs::path(target.bundle).filename().string() + ".new-" +
        std::to_string(::getpid()) + "-";
    for (int n = 0; n < 1000; ++n) {
        const std::string path = base + std::to_string(n);
        if (::mkdir(path.c_str(), 0777) == 0) {
            return path;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return Error{"Error: cannot save presets in " + in_quotes(target.folder) + ": " +
                 std::strerror(errno) + ".\n"};
}

// Replaces every symbolic link lilv made in the bundle for a file outside
// it with a copy of that file (or folder), so that the preset holds what it
// names wherever it goes.
Status copy_linked_files(const std::string& staging)
{
    std::error_code error;
    std::vector<fs::path> links;
    for (fs::recursive_directory_iterator it(staging, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_symlink(error)) {
            links.push_back(it->path());
        }
    }
    if (error) {
        return Error{"Error: cannot read the new preset bundle: " + error.message() + ".\n"};
    }
    for (const fs::path& link : links) {
        const fs::path target = fs::canonical(link, error);
        if (error) {
            std::error_code ignored;
            const fs::path named = fs::read_symlink(link, ignored);
            return Error{"Error: the plugin's state names " + in_quotes(named.string()) +
                         ", which cannot be read: " + error.message() + ".\n"};
        }
        fs::remove(link, error);
        if (!error) {
            fs::copy(target, link, fs::copy_options::recursive, error);
        }
        if (error) {
            return Error{"Error: cannot copy " + in_quotes(target.string()) +
                         " into the preset: " + error.message() + ".\n"};
        }
    }
    return {};
}

} // namespace

std::string user_preset_folder()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.lv2";
    }
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
        return std::string(found->pw_dir) + "/.lv2";
    }
    return {};
}

std::string preset_bundle_name(std::string_view plugin_name, std::string_view label)
{
    return symbolised(plugin_name) + "_" + symbolised(label) + ".preset.lv2";
}

std::string preset_file_name(std::string_view label)
{
    return symbolised(label) + ".ttl";
}

Result<PresetTarget> plan_preset_save(World::Impl& world, const LilvPlugin* plugin,
                                      std::string_view label, std::string_view folder)
{
    if (label.find_first_not_of(" \t\n\r") == std::string_view::npos) {
        return Error{"Error: the preset's label is empty; --save-preset needs a name.\n"};
    }
    PresetTarget target;
    target.label = std::string(label);
    std::error_code error;
    const fs::path absolute = fs::absolute(fs::path(folder), error).lexically_normal();
    target.folder = absolute.string();
    if (target.folder.size() > 1 && target.folder.back() == '/') {
        target.folder.pop_back();
    }
    if (const std::string problem = writable_folder_problem(target.folder); !problem.empty()) {
        return Error{"Error: cannot save presets in " + in_quotes(target.folder) + ": " + problem +
                     ".\n"};
    }
    const std::string canonical_folder = fs::canonical(target.folder, error).string();
    LilvWorld* lilv = world.lilv.get();
    // The presets saved there before, also when LV2_PATH leaves the folder out.
    load_bundles_in(lilv, canonical_folder);

    // The plugin's presets with this label, and the bundles they are in.
    std::vector<std::string> same_label_uris;
    std::string replaced;
    for (const PresetLabel& preset : preset_labels(lilv, plugin, world.nodes)) {
        if (preset.label != label) {
            continue;
        }
        const NodePtr node(lilv_new_uri(lilv, preset.uri.c_str()));
        const std::string bundle = preset_bundle_folder(lilv, node.get());
        if (bundle.empty() || fs::path(bundle).parent_path() != canonical_folder) {
            return Error{"Error: the plugin already has a preset " + in_quotes(label) +
                         (bundle.empty() ? std::string() : " in " + in_quotes(bundle)) +
                         ", a system preset outside " + in_quotes(target.folder) +
                         ", which is not replaced; choose another label.\n"};
        }
        same_label_uris.push_back(preset.uri);
        replaced = bundle;
    }
    if (!replaced.empty()) {
        // Replacing the bundle must not take other presets with it.
        NodesPtr holder;
        for (const LilvNode* preset : all_presets(lilv, world.nodes, holder)) {
            const std::string uri = lilv_node_as_uri(preset);
            if (preset_bundle_folder(lilv, preset) == replaced &&
                std::find(same_label_uris.begin(), same_label_uris.end(), uri) ==
                    same_label_uris.end()) {
                return Error{"Error: the preset " + in_quotes(label) + " is in " + in_quotes(replaced) +
                             " together with other presets, which is not replaced; choose "
                             "another label.\n"};
            }
        }
        target.bundle = replaced;
    } else {
        target.bundle =
            free_bundle_path(canonical_folder, preset_bundle_name(plugin_name(plugin), label));
    }
    target.folder = canonical_folder;
    target.file = preset_file_name(label);
    return target;
}

PresetBundle::PresetBundle(std::string staging, std::string bundle)
    : staging_(std::move(staging)), bundle_(std::move(bundle))
{
}

PresetBundle::~PresetBundle()
{
    if (!committed_) {
        std::error_code ignored;
        fs::remove_all(staging_, ignored);
    }
}

Status PresetBundle::commit()
{
    std::error_code error;
    const bool replacing = fs::exists(fs::symlink_status(bundle_, error));
    int status = 0;
    if (!replacing) {
        status = ::rename(staging_.c_str(), bundle_.c_str());
    } else {
        // One step: the old bundle and the new change places.
        status = ::renameat2(AT_FDCWD, staging_.c_str(), AT_FDCWD, bundle_.c_str(),
                             RENAME_EXCHANGE);
        if (status != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the exchange: the old bundle steps aside.
            const std::string aside = staging_ + ".old";
            status = ::rename(bundle_.c_str(), aside.c_str());
            if (status == 0) {
                status = ::rename(staging_.c_str(), bundle_.c_str());
                const int kept = errno;
                if (status != 0) {
                    ::rename(aside.c_str(), bundle_.c_str());
                } else {
                    fs::remove_all(aside, error);
                }
                errno = kept;
            }
            if (status == 0) {
                committed_ = true;
                return {};
            }
        }
    }
    if (status != 0) {
        return Error{"Error: cannot put the preset in place at " + in_quotes(bundle_) + ": " +
                     std::strerror(errno) + ".\n"};
    }
    committed_ = true;
    if (replacing) {
        fs::remove_all(staging_, error); // the old bundle, now under the staging name
    }
    return {};
}

Result<std::unique_ptr<PresetBundle>> save_preset(World::Impl& world, const LilvPlugin* plugin,
                                                  const InstanceToSave& instance,
                                                  const PresetTarget& target)
{
    if (Status tried = try_plugin_save(instance); !tried) {
        return tried.error();
    }
    Result<std::string> staging = make_staging_folder(target);
    if (!staging) {
        return staging.error();
    }
    auto bundle = std::make_unique<PresetBundle>(staging.value(), target.bundle);
    const std::string& dir = staging.value();
    const std::vector<const LV2_Feature*> features = save_features(instance.features);
    PortValueSource values{&instance.values, world.urids.atom_Float};
    LV2_URID_Map* map = world.urid_table.map_feature();
    const StatePtr state(lilv_state_new_from_instance(
        plugin, instance.instance, map,
        instance.scratch_folder.empty() ? nullptr : instance.scratch_folder.c_str(), dir.c_str(),
        dir.c_str(), dir.c_str(), saved_port_value, &values, save_flags, features.data()));
    if (!state) {
        return Error{"Error: the plugin's state could not be taken.\n"};
    }
    lilv_state_set_label(state.get(), target.label.c_str());
    if (lilv_state_save(world.lilv.get(), map, world.urid_table.unmap_feature(), state.get(),
                        nullptr, dir.c_str(), target.file.c_str()) != 0) {
        return Error{"Error: cannot write the preset into " + in_quotes(target.folder) + ".\n"};
    }
    if (Status copied = copy_linked_files(dir); !copied) {
        return copied.error();
    }
    return bundle;
}

} // namespace tonbrix
