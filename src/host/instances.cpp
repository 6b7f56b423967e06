#include "host/instances.h"

#include "host/presets.h"
#include "host/urid_table.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/urid/urid.h>

namespace {

void fill_host_features(HostFeatures& f, int32_t block_length)
{
    f.block_length = block_length;
    const LV2_URID atom_int = urid_map(nullptr, LV2_ATOM__Int);
    const LV2_URID min_length = urid_map(nullptr, LV2_BUF_SIZE__minBlockLength);
    const LV2_URID max_length = urid_map(nullptr, LV2_BUF_SIZE__maxBlockLength);
    const LV2_URID sequence_size = urid_map(nullptr, LV2_BUF_SIZE__sequenceSize);
    const LV2_URID nominal_length = urid_map(nullptr, LV2_BUF_SIZE__nominalBlockLength);
    const uint32_t int_size = sizeof(int32_t);
    f.options = {{
        {LV2_OPTIONS_INSTANCE, 0, min_length, int_size, atom_int, &f.block_length},
        {LV2_OPTIONS_INSTANCE, 0, max_length, int_size, atom_int, &f.block_length},
        {LV2_OPTIONS_INSTANCE, 0, sequence_size, int_size, atom_int, &f.sequence_size},
        {LV2_OPTIONS_INSTANCE, 0, nominal_length, int_size, atom_int, &f.block_length},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
    }};
    f.map = {LV2_URID__map, &g_urid_map_record};
    f.unmap = {LV2_URID__unmap, &g_urid_unmap_record};
    f.options_feature = {LV2_OPTIONS__options, f.options.data()};
}

bool serves_worker(const LilvPlugin* plugin, const UriNodes& nodes)
{
    return lilv_plugin_has_feature(plugin, nodes.worker_schedule.get()) &&
           lilv_plugin_has_extension_data(plugin, nodes.worker_interface.get());
}

} // namespace

bool create_instances(const LilvPlugin* plugin, const UriNodes& nodes,
                      const InstanceSettings& settings, StatePtr& preset_state,
                      const ConnectPorts& connect, PortRanges& ranges, InstanceSet& set)
{
    const uint32_t port_count = lilv_plugin_get_num_ports(plugin);
    ranges.minimums.assign(port_count, 0.0f);
    ranges.maximums.assign(port_count, 0.0f);
    ranges.start_values.assign(port_count, 0.0f);
    lilv_plugin_get_port_ranges_float(plugin, ranges.minimums.data(), ranges.maximums.data(),
                                      ranges.start_values.data());
    PortValueTarget target{plugin, port_count, ranges.start_values.data()};

    const bool worker = serves_worker(plugin, nodes);
    fill_host_features(set.features, settings.block_length);

    set.instances.reserve(settings.count);
    set.activated.reserve(settings.count);
    for (uint32_t i = 0; i < settings.count; ++i) {
        std::array<const LV2_Feature*, 5> features = {&set.features.map, &set.features.unmap,
                                                      &set.features.options_feature, nullptr,
                                                      nullptr};
        WorkerContext* context = nullptr;
        if (worker) {
            context = &set.workers.emplace_back();
            context->trace = settings.trace;
            context->before_trace = settings.before_trace;
            context->before_trace_context = settings.before_trace_context;
            set.schedules.push_back({context, lv2_worker_schedule});
            features[3] = &set.schedule_features.emplace_back(
                LV2_Feature{LV2_WORKER__schedule, &set.schedules.back()});
        }
        LilvInstance* instance =
            lilv_plugin_instantiate(plugin, settings.sample_rate, features.data());
        if (instance == nullptr) {
            std::fputs("Failed to instantiate plugin!\n", stderr);
            return false;
        }
        set.instances.push_back(instance);
        set.activated.push_back(false);
        if (context != nullptr) {
            context->instance = lilv_instance_get_handle(instance);
            context->interface = static_cast<const LV2_Worker_Interface*>(
                lilv_instance_get_extension_data(instance, LV2_WORKER__interface));
        }
        if (preset_state) {
            lilv_state_restore(preset_state.get(), instance, set_port_value, &target, 0, nullptr);
        }
        connect(instance, i);
        lilv_instance_activate(instance);
        set.activated.back() = true;
    }
    preset_state.reset();
    return true;
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
}

InstanceSet::~InstanceSet()
{
    destroy_instances(*this);
}
