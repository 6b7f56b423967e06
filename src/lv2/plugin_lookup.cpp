#include "lv2/plugin_lookup.h"

#include "lv2/lilv_owners.h"

#include <cctype>

namespace tonbrix {

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

const LilvPlugin* plugin_by_uri(const char* uri, const LilvPlugins* plugins, LilvWorld* world)
{
    // lilv complains on standard error about text without a URI scheme;
    // such text cannot name a plugin anyway.
    if (!has_uri_scheme(uri)) {
        return nullptr;
    }
    NodePtr node(lilv_new_uri(world, uri));
    if (!node) {
        return nullptr;
    }
    return lilv_plugins_get_by_uri(plugins, node.get());
}

} // namespace tonbrix
