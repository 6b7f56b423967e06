#pragma once

#include "lv2/instance_events.h"
#include "lv2/lilv_owners.h"
#include "lv2/log.h"
#include "lv2/parameters.h"
#include "lv2/state_paths.h"
#include "lv2/uri_nodes.h"
#include "lv2/worker.h"
#include "lv2/world.h"

#include <tonbrix/error.h>
#include <tonbrix/events.h>

#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string_view>
#include <vector>

namespace tonbrix {

// The options and features every instance of a run receives. Plugins keep
// pointers into these records, so the struct must not move.
struct HostFeatures {
    int32_t block_length = 0;
    int32_t sequence_size = 32768;
    float sample_rate = 0.0f;
    std::array<LV2_Options_Option, 6> options{};
    LogContext log;
    StatePaths paths;
    LV2_State_Map_Path map_path{};
    LV2_State_Make_Path make_path{};
    LV2_State_Free_Path free_path{};
    LV2_Feature map{};
    LV2_Feature unmap{};
    LV2_Feature options_feature{};
    LV2_Feature bounded_block_length{};
    LV2_Feature fixed_block_length{};
    LV2_Feature power_of_2_block_length{};
    LV2_Feature coarse_block_length{};
    LV2_Feature load_default_state{};
    LV2_Feature map_path_feature{};
    LV2_Feature make_path_feature{};
    LV2_Feature free_path_feature{};
};

// True for a feature tonbrix offers every plugin that asks (the worker's
// schedule to plugins with a worker interface, the power-of-two block length
// with such a block size), and for the features that ask nothing of the
// host (hard real-time capable, in-place broken, live).
bool host_offers_feature(std::string_view uri);

// One entry per port index, NaN where the plugin declares nothing; values
// of lv2:sampleRate ports are multiplied by the run's rate.
struct PortRanges {
    std::vector<float> minimums;
    std::vector<float> maximums;
    std::vector<float> start_values;
};

// The run's instances in creation order, with the records they point into.
// Destruction tears the instances down before the records go.
struct InstanceSet {
    HostFeatures features;
    // By instance: where its log lines and worker trace go, and its log.
    std::deque<InstanceEvents> events;
    std::deque<InstanceLog> logs;
    std::deque<LV2_Log_Log> log_records;
    std::deque<LV2_Feature> log_features;
    std::deque<WorkerContext> workers;
    std::deque<LV2_Worker_Schedule> schedules;
    std::deque<LV2_Feature> schedule_features;
    std::deque<std::vector<const LV2_Feature*>> feature_lists; // by instance, null-ended
    std::vector<LilvInstance*> instances;
    std::vector<bool> activated;
    std::vector<WorkerContext*> worker_of_instance; // null where the plugin has no worker
    // Errors the plugin logged while the --set values were restored.
    uint64_t setting_errors = 0;

    InstanceSet() = default;
    InstanceSet(const InstanceSet&) = delete;
    InstanceSet& operator=(const InstanceSet&) = delete;
    ~InstanceSet();
};

struct InstanceSettings {
    uint32_t count = 1;
    double sample_rate = 0.0;
    int32_t block_length = 512;
    EventSink* events = nullptr; // receives the plugins' log lines and the worker trace
};

// What is restored into every instance after its creation, in this order:
// the plugin's own default state, the preset, the --set values. The states
// are released once every instance has them. The --set values that some
// instance's restore did not ask for are added to the plan's message values.
struct InstanceStates {
    StatePtr default_state;
    StatePtr preset;
    ParameterPlan parameters;
};

// Connects every port of a new instance (its number from 0) to its buffers.
using ConnectPorts = std::function<void(LilvInstance*, std::size_t)>;

// Reads the port ranges, then creates, restores (the states that are
// given), connects and activates every instance in turn: plugins may read
// their ports as soon as they are activated. An error when an instance
// cannot be created or refuses the --set values.
Status create_instances(World::Impl& world, const LilvPlugin* plugin,
                        const InstanceSettings& settings, InstanceStates& states,
                        const ConnectPorts& connect, PortRanges& ranges, InstanceSet& set);

// An error when the plugin requires a block length that `block_length`
// frames is not (a power of two).
Status block_length_supported(LilvWorld* world, const LilvPlugin* plugin, int32_t block_length);

// Deactivates (where activated) and frees each instance, in ascending order.
void destroy_instances(InstanceSet& set) noexcept;

// Deactivates every activated instance, in ascending order, so that its
// ports can be connected anew.
void deactivate_instances(InstanceSet& set) noexcept;

// Sends the instances' log lines and worker trace to `events` (null: nowhere).
void report_instances_to(InstanceSet& set, EventSink* events);

// Makes deactivated instances ready for a new file of the same shape:
// their log lines and worker trace go to `events` from now on, responses
// their worker still held are dropped, and each is connected (by
// `connect`) and activated again in ascending order. LV2's activate resets
// an instance to the state its restore left, as a new instance would be.
void reactivate_instances(InstanceSet& set, EventSink* events, const ConnectPorts& connect);

} // namespace tonbrix
