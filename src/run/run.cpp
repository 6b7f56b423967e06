#include "run/processing_run.h"

#include "lv2/world.h"
#include "run/event_plan.h"
#include "run/plugin_setup.h"

#include <tonbrix/run.h>

#include <string>

namespace tonbrix {

namespace {

// An observer that learns nothing.
class Unobserved final : public RunObserver {};

// The message when the run's description does not hold together; empty
// when it does.
std::string settings_error(const RunSettings& settings)
{
    if (settings.plugins.empty()) {
        return "Error: a run needs at least one plugin.\n";
    }
    if (Status size = check_block_size(settings.block_size); !size) {
        return size.error().message;
    }
    if (settings.source != nullptr && !settings.input_file.empty()) {
        return "Error: a run reads one input: a file or a source in memory, not both.\n";
    }
    if (settings.sink != nullptr && !settings.output_file.empty()) {
        return "Error: a run writes one output: a file or a sink in memory, not both.\n";
    }
    for (const PluginStep& step : settings.plugins) {
        if (!step.midi_file.empty() && step.midi) {
            return "Error: a plugin plays one MIDI input: a file or events in memory, not "
                   "both.\n";
        }
    }
    return {};
}

} // namespace

Status check_block_size(int64_t frames)
{
    if (frames < 1) {
        return Error{"Error: block size must be at least 1 frame.\n"};
    }
    if (frames > int64_t{max_block_size}) {
        return Error{"Error: block size must be at most " + std::to_string(max_block_size) +
                     " frames.\n"};
    }
    return {};
}

InstanceCache::InstanceCache() : impl_(std::make_unique<Impl>()) {}
InstanceCache::InstanceCache(InstanceCache&&) noexcept = default;
InstanceCache& InstanceCache::operator=(InstanceCache&&) noexcept = default;
InstanceCache::~InstanceCache() = default;

void InstanceCache::release()
{
    impl_->release();
}

bool InstanceCache::checked() const
{
    return impl_->checked;
}

bool InstanceCache::resets() const
{
    return impl_->resets;
}

RunResult run(World& world, const RunSettings& settings, RunObserver* observer,
              InstanceCache* cache)
{
    RunResult result;
    World::Impl& lv2 = WorldAccess::impl(world);
    const std::size_t count = settings.plugins.size();
    std::vector<PluginSetup> plugins(count);
    for (std::size_t k = 0; k < count; ++k) {
        plugins[k].step = &settings.plugins[k];
        plugins[k].plugin = find_lilv_plugin(lv2, settings.plugins[k].uri);
        if (plugins[k].plugin == nullptr) {
            result.errors.push_back({Error{"No such plugin " + settings.plugins[k].uri + "\n"}, k});
            return result;
        }
    }
    if (const std::string error = settings_error(settings); !error.empty()) {
        result.errors.push_back({Error{error}, std::nullopt});
        return result;
    }
    const bool has_input = settings.source != nullptr || !settings.input_file.empty();
    const bool has_output = settings.sink != nullptr || !settings.output_file.empty();
    for (std::size_t k = 0; k < count; ++k) {
        PluginSetup& setup = plugins[k];
        if (Status prepared = prepare_plugin_states(world, setup.plugin, *setup.step,
                                                    settings.block_size, setup.states);
            !prepared) {
            result.errors.push_back({prepared.error(), k});
            return result;
        }
        // Audio comes from the plugin before and goes on to the one after.
        Result<EventPlan> plan = plan_events(*setup.step, settings, lv2, setup.plugin,
                                             k > 0 || has_input, k + 1 < count || has_output);
        if (!plan) {
            result.errors.push_back({plan.error(), k});
            return result;
        }
        setup.plan = std::move(plan.value());
    }
    Unobserved unobserved;
    return run_processing(world, settings, plugins, observer != nullptr ? *observer : unobserved,
                          cache != nullptr ? &InstanceCacheAccess::impl(*cache) : nullptr);
}

bool files_may_be_left_out(const World& world, std::string_view uri, bool midi_out,
                           bool has_input, bool has_output)
{
    const World::Impl& lv2 = WorldAccess::impl(world);
    const LilvPlugin* plugin = find_lilv_plugin(lv2, uri);
    return plugin != nullptr &&
           files_may_be_left_out(plugin, lv2.nodes, midi_out, has_input, has_output);
}

std::string missing_output_message(const World& world, std::string_view uri, bool has_input)
{
    World::Impl& lv2 = WorldAccess::impl(world);
    const LilvPlugin* plugin = find_lilv_plugin(lv2, uri);
    return plugin != nullptr ? missing_output_message(plugin, lv2, has_input) : std::string();
}

} // namespace tonbrix
