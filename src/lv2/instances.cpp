#include "lv2/instances.h"

#include "lv2/parameter_state.h"
#include "lv2/presets.h"
#include "lv2/sample_rate_ports.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/parameters/parameters.h>
#include <lv2/urid/urid.h>

#include <string>

namespace tonbrix {

namespace {

void fill_host_features(HostFeatures& f, World::Impl& world, int32_t block_length,
                        double sample_rate)
{
    f.block_length = block_length;
    f.sample_rate = static_cast<float>(sample_rate);
    const Urids& u = world.urids;
    const LV2_URID atom_int = u.atom_Int;
    const LV2_URID atom_float = u.atom_Float;
    const LV2_URID min_length = u.buf_minBlockLength;
    const LV2_URID max_length = u.buf_maxBlockLength;
    const LV2_URID sequence_size = u.buf_sequenceSize;
    const LV2_URID nominal_length = u.buf_nominalBlockLength;
    const LV2_URID rate = u.param_sampleRate;
    const uint32_t int_size = sizeof(int32_t);
    const uint32_t float_size = sizeof(float);
    f.options = {{
        {LV2_OPTIONS_INSTANCE, 0, min_length, int_size, atom_int, &f.block_length},
        {LV2_OPTIONS_INSTANCE, 0, max_length, int_size, atom_int, &f.block_length},
        {LV2_OPTIONS_INSTANCE, 0, sequence_size, int_size, atom_int, &f.sequence_size},
        {LV2_OPTIONS_INSTANCE, 0, nominal_length, int_size, atom_int, &f.block_length},
        {LV2_OPTIONS_INSTANCE, 0, rate, float_size, atom_float, &f.sample_rate},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
    }};
    init_log_context(f.log, u.log_Error, u.log_Warning);
    f.map_path = {&f.paths, state_abstract_path, state_absolute_path};
    f.make_path = {&f.paths, state_make_path};
    f.free_path = {&f.paths, state_free_path};

    f.map = {LV2_URID__map, world.urid_table.map_feature()};
    f.unmap = {LV2_URID__unmap, world.urid_table.unmap_feature()};
    f.options_feature = {LV2_OPTIONS__options, f.options.data()};
    // Every block, the last one included, has exactly block_length frames.
    f.bounded_block_length = {LV2_BUF_SIZE__boundedBlockLength, nullptr};
    f.fixed_block_length = {LV2_BUF_SIZE__fixedBlockLength, nullptr};
    f.coarse_block_length = {LV2_BUF_SIZE__coarseBlockLength, nullptr};
    f.power_of_2_block_length = {LV2_BUF_SIZE__powerOf2BlockLength, nullptr};
    f.load_default_state = {LV2_STATE__loadDefaultState, nullptr};
    f.map_path_feature = {LV2_STATE__mapPath, &f.map_path};
    f.make_path_feature = {LV2_STATE__makePath, &f.make_path};
    f.free_path_feature = {LV2_STATE__freePath, &f.free_path};
}

bool is_power_of_2(int32_t n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

// The features of one instance, null-ended, with its own log; the
// worker's schedule feature when it has one.
std::vector<const LV2_Feature*> feature_list(const HostFeatures& f, int32_t block_length,
                                             const LV2_Feature* log, const LV2_Feature* schedule)
{
    std::vector<const LV2_Feature*> list = {
        &f.map,
        &f.unmap,
        &f.options_feature,
        &f.bounded_block_length,
        &f.fixed_block_length,
        &f.coarse_block_length,
        log,
        &f.load_default_state,
        &f.map_path_feature,
        &f.make_path_feature,
        &f.free_path_feature,
    };
    if (is_power_of_2(block_length)) {
        list.push_back(&f.power_of_2_block_length);
    }
    if (schedule != nullptr) {
        list.push_back(schedule);
    }
    list.push_back(nullptr);
    return list;
}

bool serves_worker(const LilvPlugin* plugin, const UriNodes& nodes)
{
    return lilv_plugin_has_feature(plugin, nodes.worker_schedule.get()) &&
           lilv_plugin_has_extension_data(plugin, nodes.worker_interface.get());
}

} // namespace

bool host_offers_feature(std::string_view uri)
{
    for (std::string_view offered :
         {LV2_URID__map, LV2_URID__unmap, LV2_OPTIONS__options, LV2_BUF_SIZE__boundedBlockLength,
          LV2_BUF_SIZE__fixedBlockLength, LV2_BUF_SIZE__coarseBlockLength,
          LV2_BUF_SIZE__powerOf2BlockLength, LV2_LOG__log, LV2_STATE__loadDefaultState,
          LV2_STATE__mapPath, LV2_STATE__makePath, LV2_STATE__freePath, LV2_WORKER__schedule,
          LV2_CORE__hardRTCapable, LV2_CORE__inPlaceBroken, LV2_CORE__isLive}) {
        if (uri == offered) {
            return true;
        }
    }
    return false;
}

Status block_length_supported(LilvWorld* world, const LilvPlugin* plugin, int32_t block_length)
{
    NodePtr power_of_2(lilv_new_uri(world, LV2_BUF_SIZE__powerOf2BlockLength));
    NodesPtr required(lilv_plugin_get_required_features(plugin));
    if (is_power_of_2(block_length) || !required ||
        !lilv_nodes_contains(required.get(), power_of_2.get())) {
        return {};
    }
    return Error{"Error: the plugin requires a power-of-two block length; block size " +
                 std::to_string(block_length) + " is not one.\n"};
}

Status create_instances(World::Impl& world, const LilvPlugin* plugin,
                        const InstanceSettings& settings, InstanceStates& states,
                        const ConnectPorts& connect, PortRanges& ranges, InstanceSet& set)
{
    const uint32_t port_count = lilv_plugin_get_num_ports(plugin);
    ranges.minimums.assign(port_count, 0.0f);
    ranges.maximums.assign(port_count, 0.0f);
    ranges.start_values.assign(port_count, 0.0f);
    lilv_plugin_get_port_ranges_float(plugin, ranges.minimums.data(), ranges.maximums.data(),
                                      ranges.start_values.data());
    // Before the states are restored: their values are already in units.
    scale_to_sample_rate(sample_rate_ports(plugin, world.nodes.sample_rate.get()),
                         settings.sample_rate, ranges.minimums, ranges.maximums,
                         ranges.start_values);
    PortValueTarget target{plugin, port_count, ranges.start_values.data(), &world.urids};

    const bool worker = serves_worker(plugin, world.nodes);
    fill_host_features(set.features, world, settings.block_length, settings.sample_rate);
    ParameterState parameter_state;
    std::vector<bool> not_asked(states.parameters.values.size(), false);
    if (states.parameters.delivery == ParameterDelivery::state) {
        make_parameter_state(states.parameters.values, world.urid_table.map_feature(),
                             parameter_state);
    }

    set.instances.reserve(settings.count);
    set.activated.reserve(settings.count);
    for (uint32_t i = 0; i < settings.count; ++i) {
        const LV2_Feature* schedule = nullptr;
        WorkerContext* context = nullptr;
        InstanceEvents& events = set.events.emplace_back();
        events.send_to(settings.events);
        set.logs.push_back({&set.features.log, &events});
        set.log_records.push_back({&set.logs.back(), log_printf, log_vprintf});
        const LV2_Feature* log =
            &set.log_features.emplace_back(LV2_Feature{LV2_LOG__log, &set.log_records.back()});
        if (worker) {
            context = &set.workers.emplace_back();
            context->events = &events;
            set.schedules.push_back({context, lv2_worker_schedule});
            schedule = &set.schedule_features.emplace_back(
                LV2_Feature{LV2_WORKER__schedule, &set.schedules.back()});
        }
        set.feature_lists.push_back(feature_list(set.features, settings.block_length, log, schedule));
        const LV2_Feature* const* features = set.feature_lists.back().data();
        LilvInstance* instance =
            lilv_plugin_instantiate(plugin, settings.sample_rate, features);
        if (instance == nullptr) {
            return Error{"Failed to instantiate plugin!\n"};
        }
        set.instances.push_back(instance);
        set.activated.push_back(false);
        set.worker_of_instance.push_back(context);
        if (context != nullptr) {
            context->instance = lilv_instance_get_handle(instance);
            context->interface = static_cast<const LV2_Worker_Interface*>(
                lilv_instance_get_extension_data(instance, LV2_WORKER__interface));
        }
        if (states.default_state) {
            lilv_state_restore(states.default_state.get(), instance, set_port_value, &target, 0,
                               features);
        }
        if (states.preset) {
            lilv_state_restore(states.preset.get(), instance, set_port_value, &target, 0,
                               features);
        }
        if (states.parameters.delivery == ParameterDelivery::state) {
            const uint64_t errors_before = set.features.log.errors.load();
            // A second restore gives the values the first one did not ask
            // for under the keys the plugin asked for instead.
            bool restored = restore_parameter_state(instance, parameter_state, features);
            if (context != nullptr) {
                deliver_worker_responses(*context);
            }
            if (restored &&
                add_parameter_aliases(parameter_state, world.urid_table.unmap_feature())) {
                restored = restore_parameter_state(instance, parameter_state, features);
                if (context != nullptr) {
                    deliver_worker_responses(*context);
                }
            }
            if (!restored) {
                return Error{"Error: the plugin did not accept the --set values.\n"};
            }
            set.setting_errors += set.features.log.errors.load() - errors_before;
            for (std::size_t v = 0; v < parameter_state.asked.size(); ++v) {
                not_asked[v] = not_asked[v] || parameter_state.asked[v] == 0;
            }
        }
        if (context != nullptr) {
            deliver_worker_responses(*context);
        }
        connect(instance, i);
        lilv_instance_activate(instance);
        set.activated.back() = true;
    }
    states.default_state.reset();
    states.preset.reset();
    for (std::size_t v = 0; v < not_asked.size(); ++v) {
        if (not_asked[v]) {
            states.parameters.message_values.push_back(states.parameters.values[v]);
        }
    }
    return {};
}

void destroy_instances(InstanceSet& set) noexcept
{
    for (std::size_t i = 0; i < set.instances.size(); ++i) {
        if (set.activated[i]) {
            lilv_instance_deactivate(set.instances[i]);
        }
        lilv_instance_free(set.instances[i]);
    }
    set.instances.clear();
    set.activated.clear();
    set.worker_of_instance.clear();
}

void deactivate_instances(InstanceSet& set) noexcept
{
    for (std::size_t i = 0; i < set.instances.size(); ++i) {
        if (set.activated[i]) {
            lilv_instance_deactivate(set.instances[i]);
            set.activated[i] = false;
        }
    }
}

void report_instances_to(InstanceSet& set, EventSink* events)
{
    for (InstanceEvents& own : set.events) {
        own.send_to(events);
    }
}

void reactivate_instances(InstanceSet& set, EventSink* events, const ConnectPorts& connect)
{
    report_instances_to(set, events);
    for (WorkerContext& worker : set.workers) {
        worker.responses.clear();
        worker.scheduled = 0;
    }
    for (std::size_t i = 0; i < set.instances.size(); ++i) {
        connect(set.instances[i], i);
        lilv_instance_activate(set.instances[i]);
        set.activated[i] = true;
    }
}

InstanceSet::~InstanceSet()
{
    destroy_instances(*this);
}

} // namespace tonbrix
