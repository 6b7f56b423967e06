#pragma once

#include "host/uri_nodes.h"
#include "host/lilv_owners.h"
#include "host/worker.h"

#include <lv2/core/lv2.h>
#include <lv2/options/options.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <vector>

// The options and features every instance of a run receives. Plugins keep
// pointers into these records, so the struct must not move.
struct HostFeatures {
    int32_t block_length = 0;
    int32_t sequence_size = 32768;
    std::array<LV2_Options_Option, 5> options{};
    LV2_Feature map{};
    LV2_Feature unmap{};
    LV2_Feature options_feature{};
};

// One entry per port index, NaN where the plugin declares nothing.
struct PortRanges {
    std::vector<float> minimums;
    std::vector<float> maximums;
    std::vector<float> start_values;
};

// The run's instances in creation order, with the records they point into.
// Destruction tears the instances down before the records go.
struct InstanceSet {
    HostFeatures features;
    std::deque<WorkerContext> workers;
    std::deque<LV2_Worker_Schedule> schedules;
    std::deque<LV2_Feature> schedule_features;
    std::vector<LilvInstance*> instances;
    std::vector<bool> activated;

    InstanceSet() = default;
    InstanceSet(const InstanceSet&) = delete;
    InstanceSet& operator=(const InstanceSet&) = delete;
    ~InstanceSet();
};

struct InstanceSettings {
    uint32_t count = 1;
    double sample_rate = 0.0;
    int32_t block_length = 512;
    FILE* trace = stdout; // where the worker's trace lines go; null: nowhere
    void (*before_trace)(void* context) = nullptr; // see WorkerContext
    void* before_trace_context = nullptr;
};

// Connects every port of a new instance (its number from 0) to its buffers.
using ConnectPorts = std::function<void(LilvInstance*, std::size_t)>;

// Reads the port ranges, then creates, restores (when a preset state is
// given), connects and activates every instance in turn: plugins may read
// their ports as soon as they are activated. The preset state is released
// at the end. Prints its message and returns false when an instance cannot
// be created.
bool create_instances(const LilvPlugin* plugin, const UriNodes& nodes,
                      const InstanceSettings& settings, StatePtr& preset_state,
                      const ConnectPorts& connect, PortRanges& ranges, InstanceSet& set);

// Deactivates (where activated) and frees each instance, in ascending order.
void destroy_instances(InstanceSet& set) noexcept;
