#pragma once

#include <lilv/lilv.h>

namespace tonbrix {

// The plugin at a 0-based position in the collection, or null.
const LilvPlugin* plugin_at_index(const LilvPlugins* plugins, int index);

// The plugin with this URI, or null; text without a URI scheme names none.
const LilvPlugin* plugin_by_uri(const char* uri, const LilvPlugins* plugins, LilvWorld* world);

// True when the text begins with a URI scheme and its colon.
bool has_uri_scheme(const char* text);

} // namespace tonbrix
