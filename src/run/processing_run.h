#pragma once

#include "lv2/library_hold.h"
#include "run/plugin_setup.h"

#include <tonbrix/run.h>
#include <tonbrix/world.h>

#include <memory>
#include <vector>

namespace tonbrix {

// The plugin sides a cache keeps from one run to the next: a run whose
// shape (rate, channel count) and instance settings (plugin, block size,
// routing, preset, --set values) are those of an earlier run takes its
// instances over, deactivated and activated again; a run of a new shape
// gets new ones, and the sides of the last few shapes are kept. Instances
// are kept only for a plugin whose activation is found to reset them.
// Empty until a one-plugin run finishes with it.
struct InstanceCache::Impl {
    struct Kept;
    std::vector<std::unique_ptr<Kept>> kept; // the most recently used last
    // Whether the plugin's activation was checked to reset its instances
    // (on the first chance to keep them), and what the check found.
    bool checked = false;
    bool resets = false;
    // The plugin's library, loaded once for all the runs whatever the check
    // found.
    std::unique_ptr<LibraryHold> library;

    Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl();

    // Frees every instance kept.
    void release();
};

// The library's way into a cache.
struct InstanceCacheAccess {
    static InstanceCache::Impl& impl(InstanceCache& cache) noexcept { return *cache.impl_; }
};

// Runs the input (or silence) through the plugins, one after the other,
// into the output (or nowhere), each with its plan's events. With `kept`,
// a run of one plugin takes over the instances kept there when it can, and
// leaves its own there when it finishes.
RunResult run_processing(World& world, const RunSettings& settings,
                         std::vector<PluginSetup>& plugins, RunObserver& observer,
                         InstanceCache::Impl* kept);

} // namespace tonbrix
