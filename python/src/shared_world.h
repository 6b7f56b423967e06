#pragma once

#include <tonbrix/world.h>

#include <pybind11/pybind11.h>

#include <memory>
#include <mutex>
#include <utility>

namespace tonbrix::python {

// A loaded World shared by the Python World object and every plugin made
// from it. A World is used by one thread at a time: every use holds the
// mutex, and the GIL is let go while waiting for it.
class SharedWorld {
public:
    explicit SharedWorld(World world) : world_(std::move(world)) {}

    // Calls `use(world)` under the mutex without the GIL; returns its result.
    template <class Use>
    auto with_world(Use&& use)
    {
        pybind11::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> lock(mutex_);
        return use(world_);
    }

    // Calls `use(world)` under the mutex, by a caller that let the GIL go.
    template <class Use>
    auto with_world_unlocked(Use&& use)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return use(world_);
    }

private:
    World world_;
    std::mutex mutex_;
};

// Loads the plugin data (from LV2_PATH or the standard folders); raises
// tonbrix.Error when the LV2 world cannot be made.
std::shared_ptr<SharedWorld> load_world();

} // namespace tonbrix::python
