#pragma once

#include <lilv/lilv.h>

namespace tonbrix {

// Keeps a plugin's shared library loaded while it lives: freeing the
// plugin's last instance then does not unload it, and the next instance
// does not load and relocate it again. Holds nothing when the library
// cannot be opened; instances then load it as they always do.
class LibraryHold {
public:
    LibraryHold() = default;
    explicit LibraryHold(const LilvPlugin* plugin);
    LibraryHold(const LibraryHold&) = delete;
    LibraryHold& operator=(const LibraryHold&) = delete;
    ~LibraryHold();

    bool held() const { return handle_ != nullptr; }

private:
    void* handle_ = nullptr;
};

} // namespace tonbrix
