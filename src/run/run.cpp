#include "run/processing_run.h"

#include "lv2/world.h"
#include "run/event_plan.h"
#include "run/plugin_setup.h"
#include "run/preset_saving.h"

#include <tonbrix/run.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

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

// Where each plugin of a chain stands as far as MIDI goes: each plugin's
// MIDI output feeds the next plugin's MIDI input when both exist, and the
// MIDI input of a step, wherever it stands, plays into the first plugin
// that takes MIDI (it moves there from the step of a plugin without a MIDI
// input: `midi_from` and `midi_to` say so). A plugin that gives no audio
// cannot feed one that takes audio. The error of a chain that cannot run:
// MIDI input in two steps, or in the step of a later plugin that takes MIDI.
struct ChainMidi {
    std::vector<ChainPlace> places;
    std::optional<std::pair<std::size_t, std::size_t>> moved; // from, to
};

Result<ChainMidi> place_chain_midi(World::Impl& lv2, const std::vector<PluginSetup>& plugins,
                                   std::optional<std::size_t>& failed_step)
{
    const std::size_t count = plugins.size();
    const auto has_midi = [&](std::size_t k) {
        return !plugins[k].step->midi_file.empty() || plugins[k].step->midi.has_value();
    };
    std::vector<EventPorts> ports;
    for (std::size_t k = 0; k < count; ++k) {
        Result<EventPorts> found = plugin_event_ports(lv2, plugins[k].plugin);
        if (!found) {
            failed_step = k;
            return found.error();
        }
        ports.push_back(found.value());
    }
    ChainMidi chain;
    chain.places.resize(count);
    std::vector<ChainPlace>& places = chain.places;
    for (std::size_t k = 0; k + 1 < count; ++k) {
        places[k].feeds_next = true;
        if (ports[k].midi_output >= 0 && ports[k + 1].midi_input >= 0) {
            places[k].midi_to_chain = true;
            places[k + 1].midi_from_chain = true;
        }
    }
    for (std::size_t k = 1; k < count; ++k) {
        const uint32_t inputs = lilv_plugin_get_num_ports_of_class(
            plugins[k].plugin, lv2.nodes.audio_port.get(), lv2.nodes.input_port.get(), nullptr);
        const uint32_t outputs =
            lilv_plugin_get_num_ports_of_class(plugins[k - 1].plugin, lv2.nodes.audio_port.get(),
                                               lv2.nodes.output_port.get(), nullptr);
        if (inputs > 0 && outputs == 0 && places[k - 1].midi_to_chain) {
            failed_step = k;
            return Error{"Error: the plugin " + plugin_title(plugins[k].plugin) +
                         " takes audio, and plugin " + std::to_string(k) +
                         " before it gives none (only MIDI).\n"};
        }
    }
    std::size_t first_taker = count;
    std::size_t given = count;
    for (std::size_t k = count; k-- > 0;) {
        if (ports[k].midi_input >= 0) {
            first_taker = k;
        }
        if (has_midi(k)) {
            if (given != count) {
                return Error{"Error: --midi is given in parts " + std::to_string(k + 1) + " and " +
                             std::to_string(given + 1) +
                             " of the chain; a chain plays one MIDI file, into its first "
                             "plugin that takes MIDI.\n"};
            }
            given = k;
        }
    }
    if (given != count && first_taker != count && given != first_taker) {
        if (ports[given].midi_input >= 0) {
            failed_step = given;
            return Error{"Error: --midi plays into the first plugin of the chain that takes "
                         "MIDI, plugin " + std::to_string(first_taker + 1) + " " +
                         plugin_title(plugins[first_taker].plugin) + "; give it in that part.\n"};
        }
        chain.moved = std::make_pair(given, first_taker);
    }
    if (given != count) {
        const std::size_t plays = chain.moved ? chain.moved->second : given;
        for (std::size_t k = 0; k < count; ++k) {
            places[k].midi_elsewhere = k != plays;
        }
    }
    return chain;
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
    // A chain's MIDI input moves to the first plugin that takes MIDI: the
    // run then goes by a copy of the settings with the MIDI moved there.
    std::vector<ChainPlace> places(count);
    std::optional<RunSettings> moved;
    if (count > 1) {
        std::optional<std::size_t> failed_step;
        Result<ChainMidi> chain = place_chain_midi(lv2, plugins, failed_step);
        if (!chain) {
            result.errors.push_back({chain.error(), failed_step});
            return result;
        }
        places = chain.value().places;
        if (chain.value().moved) {
            const auto [from, to] = *chain.value().moved;
            moved = settings;
            PluginStep& source = moved->plugins[from];
            PluginStep& target = moved->plugins[to];
            target.midi_file = std::move(source.midi_file);
            target.midi = std::move(source.midi);
            source.midi_file.clear();
            source.midi.reset();
            for (std::size_t k = 0; k < count; ++k) {
                plugins[k].step = &moved->plugins[k];
            }
        }
    }
    const RunSettings& run_settings = moved ? *moved : settings;
    const bool has_input = settings.source != nullptr || !settings.input_file.empty();
    const bool has_output = settings.sink != nullptr || !settings.output_file.empty();
    for (std::size_t k = 0; k < count; ++k) {
        PluginSetup& setup = plugins[k];
        if (Status prepared = prepare_plugin_states(world, setup.plugin, *setup.step,
                                                    settings.block_size, setup.states);
            !prepared || !(prepared = plan_preset_saving(lv2, settings, setup))) {
            result.errors.push_back({prepared.error(), k});
            return result;
        }
        // Audio comes from the plugin before and goes on to the one after.
        Result<EventPlan> plan = plan_events(*setup.step, run_settings, lv2, setup.plugin,
                                             k > 0 || has_input, k + 1 < count || has_output,
                                             places[k]);
        if (!plan) {
            result.errors.push_back({plan.error(), k});
            return result;
        }
        setup.plan = std::move(plan.value());
    }
    Unobserved unobserved;
    return run_processing(world, run_settings, plugins,
                          observer != nullptr ? *observer : unobserved,
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
