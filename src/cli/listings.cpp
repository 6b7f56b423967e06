#include "cli/listings.h"

#include "cli/json_documents.h"
#include "cli/plugin_info_text.h"
#include "lv2/catalog.h"
#include "lv2/plugin_description.h"
#include "lv2/presets.h"

namespace {

void no_such_plugin(const char* text)
{
    std::fprintf(stderr, "No such plugin %s\n", text);
}

} // namespace

void write_text(std::FILE* stream, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
}

int print_plugin_list(const LilvPlugins* plugins, bool json)
{
    if (!json) {
        list_plugins(plugins);
        return 1;
    }
    write_text(stdout, json_text(plugin_list_json(plugin_uris(plugins))));
    return 0;
}

int print_ports(LilvWorld* world, const LilvPlugins* plugins, const char* text, bool json)
{
    if (!json) {
        list_ports(world, plugins, text);
        return 1;
    }
    const LilvPlugin* plugin = find_plugin(text, plugins, world);
    if (plugin == nullptr) {
        no_such_plugin(text);
        return 1;
    }
    write_text(stdout, json_text(nameports_json(describe_plugin(world, plugin))));
    return 0;
}

int print_plugin_info(LilvWorld* world, const LilvPlugins* plugins, const char* text, bool json)
{
    const LilvPlugin* plugin = find_plugin(text, plugins, world);
    if (plugin == nullptr) {
        no_such_plugin(text);
        return 1;
    }
    const PluginDescription description = describe_plugin(world, plugin);
    write_text(stdout, json ? json_text(plugin_info_json(description))
                            : plugin_info_text(description));
    return 0;
}

int print_presets(LilvWorld* world, const LilvPlugin* plugin, bool json)
{
    const std::vector<PresetEntry> presets = labelled_presets(world, plugin);
    if (json) {
        write_text(stdout, json_text(presets_json(
                               lilv_node_as_uri(lilv_plugin_get_uri(plugin)), presets)));
        return 0;
    }
    std::string listing;
    for (const PresetEntry& preset : presets) {
        listing += "Preset: " + preset.label + "\n";
    }
    write_text(stdout, listing);
    return 0;
}
