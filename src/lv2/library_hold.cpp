#include "lv2/library_hold.h"

#include <dlfcn.h>

namespace tonbrix {

LibraryHold::LibraryHold(const LilvPlugin* plugin)
{
    const LilvNode* library = lilv_plugin_get_library_uri(plugin);
    if (library == nullptr || !lilv_node_is_uri(library)) {
        return;
    }
    char* path = lilv_file_uri_parse(lilv_node_as_uri(library), nullptr);
    if (path != nullptr) {
        // As lilv opens it, so the library is the same one instances use.
        handle_ = ::dlopen(path, RTLD_NOW);
        lilv_free(path);
    }
}

LibraryHold::~LibraryHold()
{
    if (handle_ != nullptr) {
        ::dlclose(handle_);
    }
}

} // namespace tonbrix
