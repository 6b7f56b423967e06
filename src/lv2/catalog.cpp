#include "lv2/catalog.h"

#include "cli/int_text.h"
#include "lv2/lilv_owners.h"
#include "lv2/parameters.h"

#include <lv2/core/lv2.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

void list_plugins(const LilvPlugins* plugins)
{
    std::string text;
    int number = 1;
    LILV_FOREACH (plugins, it, plugins) {
        const LilvPlugin* plugin = lilv_plugins_get(plugins, it);
        text += std::to_string(number++);
        text += '\t';
        text += lilv_node_as_uri(lilv_plugin_get_uri(plugin));
        text += '\n';
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
}

const LilvPlugin* plugin_at_index(const LilvPlugins* plugins, int index)
{
    if (index < 0) {
        return nullptr;
    }
    int position = 0;
    LILV_FOREACH (plugins, it, plugins) {
        if (position == index) {
            return lilv_plugins_get(plugins, it);
        }
        ++position;
    }
    return nullptr;
}

bool has_uri_scheme(const char* text)
{
    // scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
    if (!std::isalpha(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    for (const char* p = text + 1; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == ':') {
            return true;
        }
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return false;
}

const LilvPlugin* find_plugin(const char* text, const LilvPlugins* plugins, LilvWorld* world)
{
    const int number = saturating_atoi(text);
    if (number != 0) {
        // INT_MIN - 1 cannot be formed; any number below 1 selects nothing.
        return number < 1 ? nullptr : plugin_at_index(plugins, number - 1);
    }
    // lilv complains on standard error about text without a URI scheme;
    // such text cannot name a plugin anyway.
    if (!has_uri_scheme(text)) {
        return nullptr;
    }
    NodePtr uri(lilv_new_uri(world, text));
    if (!uri) {
        return nullptr;
    }
    return lilv_plugins_get_by_uri(plugins, uri.get());
}

namespace {

// Lists, in port order, the inputs of `port_class` or else of `other_class`
// (when given).
void append_ports_of_class(std::string& text, const LilvPlugin* plugin, const LilvNode* input,
                           const LilvNode* port_class, const LilvNode* other_class,
                           const LilvNode* name_property)
{
    const uint32_t count = lilv_plugin_get_num_ports(plugin);
    for (uint32_t i = 0; i < count; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        if (!lilv_port_is_a(plugin, port, input) ||
            (!lilv_port_is_a(plugin, port, port_class) &&
             (other_class == nullptr || !lilv_port_is_a(plugin, port, other_class)))) {
            continue;
        }
        const char* symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
        // Asked directly: lilv_port_get_name warns when a port has no name.
        NodePtr name(lilv_port_get(plugin, port, name_property));
        text += symbol;
        text += ": ";
        text += name ? lilv_node_as_string(name.get()) : symbol;
        text += '\n';
    }
}

} // namespace

void list_ports(LilvWorld* world, const LilvPlugins* plugins, const char* text)
{
    const LilvPlugin* plugin = find_plugin(text, plugins, world);
    if (plugin == nullptr) {
        std::fprintf(stderr, "No such plugin %s\n", text);
        return;
    }
    NodePtr input(lilv_new_uri(world, LV2_CORE__InputPort));
    NodePtr control(lilv_new_uri(world, LV2_CORE__ControlPort));
    NodePtr audio(lilv_new_uri(world, LV2_CORE__AudioPort));
    NodePtr cv(lilv_new_uri(world, LV2_CORE__CVPort));
    NodePtr name(lilv_new_uri(world, LV2_CORE__name));

    std::string listing = "==Audio Ports==\n";
    append_ports_of_class(listing, plugin, input.get(), audio.get(), nullptr, name.get());
    // A CV input is set like a control input, so it is listed as one.
    listing += "==Control Ports==\n";
    append_ports_of_class(listing, plugin, input.get(), control.get(), cv.get(), name.get());
    const std::vector<WritableParameter> parameters = writable_parameters(world, plugin);
    if (!parameters.empty()) {
        listing += "==Parameters==\n";
        for (const WritableParameter& parameter : parameters) {
            listing += parameter.short_name;
            listing += ": ";
            listing += parameter.label;
            listing += '\n';
        }
    }
    std::fwrite(listing.data(), 1, listing.size(), stdout);
}
