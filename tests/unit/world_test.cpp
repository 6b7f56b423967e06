// The world: plugin lookup and the descriptions of the project's own test
// plugins, read through lilv into plain data.
#include <tonbrix/world.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using namespace tonbrix;

namespace {

const std::string base = "http://tonbrix.test/plugins/";

class WorldTest : public ::testing::Test {
protected:
    // Only the test plugins, so that the list is the same on every machine.
    static void SetUpTestSuite() { setenv("LV2_PATH", TONBRIX_TEST_LV2_DIR, 1); }

    static World load()
    {
        Result<World> world = World::load();
        EXPECT_TRUE(world.ok());
        return std::move(world.value());
    }

    static PluginDescription describe(const World& world, const std::string& name)
    {
        Result<PluginDescription> plugin = world.describe(base + name);
        EXPECT_TRUE(plugin.ok()) << name;
        return plugin.ok() ? plugin.value() : PluginDescription{};
    }
};

bool same_number(float a, float b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

} // namespace

TEST_F(WorldTest, ListNumbersAndUrisFindTheSamePlugins)
{
    const World world = load();
    const std::vector<std::string> uris = world.plugin_uris();
    ASSERT_FALSE(uris.empty());
    for (std::size_t n = 1; n <= uris.size(); ++n) {
        EXPECT_EQ(world.plugin_uri(n), uris[n - 1]);
        EXPECT_TRUE(world.has_plugin(uris[n - 1]));
    }
    EXPECT_EQ(world.plugin_uri(0), std::nullopt);
    EXPECT_EQ(world.plugin_uri(uris.size() + 1), std::nullopt);
    for (const char* text : {"http://tonbrix.test/plugins/nothing", "thru", ""}) {
        EXPECT_FALSE(world.has_plugin(text)) << text;
        const Result<PluginDescription> missing = world.describe(text);
        ASSERT_FALSE(missing.ok()) << text;
        EXPECT_EQ(missing.error().message, std::string("No such plugin ") + text + "\n");
    }
}

TEST_F(WorldTest, PortsCarryWhatTheDataDeclares)
{
    const World world = load();
    const PluginDescription plugin = describe(world, "described");
    EXPECT_EQ(plugin.uri, base + "described");
    EXPECT_EQ(plugin.name, "Described");
    EXPECT_EQ(plugin.class_label, "Plugin");
    EXPECT_EQ(plugin.author, "Tonbrix Tests");
    ASSERT_EQ(plugin.ports.size(), 9u);
    const float none = NAN;
    struct Case {
        const char* symbol;
        const char* name;
        PortDirection direction;
        PortType type;
        float default_value, minimum, maximum;
    };
    const Case cases[] = {
        {"in", "Input", PortDirection::input, PortType::audio, none, none, none},
        {"out", "Output", PortDirection::output, PortType::audio, none, none, none},
        {"mode", "Mode", PortDirection::input, PortType::control, 1, 0, 2},
        {"cutoff", "Cutoff", PortDirection::input, PortType::control, 0.25f, 0.001f, 0.5f},
        {"bypass", "Bypass", PortDirection::input, PortType::control, 0, 0, 1},
        {"events", "Events", PortDirection::input, PortType::atom, none, none, none},
        {"notify", "Notify", PortDirection::output, PortType::atom, none, none, none},
        {"modulation", "Modulation", PortDirection::input, PortType::cv, none, -1, 1},
        {"latency", "Latency", PortDirection::output, PortType::control, none, none, none},
    };
    for (uint32_t i = 0; i < plugin.ports.size(); ++i) {
        const PortDescription& port = plugin.ports[i];
        const Case& c = cases[i];
        EXPECT_EQ(port.index, i);
        EXPECT_EQ(port.symbol, c.symbol);
        EXPECT_EQ(port.name, c.name) << c.symbol;
        EXPECT_EQ(port.direction, c.direction) << c.symbol;
        EXPECT_EQ(port.type, c.type) << c.symbol;
        EXPECT_TRUE(same_number(port.default_value, c.default_value)) << c.symbol;
        EXPECT_TRUE(same_number(port.minimum, c.minimum)) << c.symbol;
        EXPECT_TRUE(same_number(port.maximum, c.maximum)) << c.symbol;
    }
    const PortDescription& mode = plugin.ports[2];
    EXPECT_TRUE(mode.integer && mode.enumeration);
    EXPECT_FALSE(mode.toggled || mode.logarithmic || mode.sample_rate || mode.not_on_gui);
    ASSERT_EQ(mode.scale_points.size(), 3u);
    EXPECT_EQ(mode.scale_points[0].label, "Low");
    EXPECT_EQ(mode.scale_points[1].label, "Middle");
    EXPECT_EQ(mode.scale_points[2].label, "High");
    EXPECT_EQ(mode.scale_points[2].value, 2.0f);

    const PortDescription& cutoff = plugin.ports[3];
    EXPECT_TRUE(cutoff.sample_rate && cutoff.logarithmic);
    EXPECT_FALSE(cutoff.integer || cutoff.toggled || cutoff.enumeration);
    EXPECT_EQ(cutoff.unit, "http://lv2plug.in/ns/extensions/units#hz");
    EXPECT_TRUE(plugin.ports[4].toggled && plugin.ports[4].not_on_gui);

    const PortDescription& events = plugin.ports[5];
    EXPECT_EQ(events.buffer_type, "http://lv2plug.in/ns/ext/atom#Sequence");
    EXPECT_TRUE(events.carries_midi && events.carries_patch && events.carries_time_position);
    const PortDescription& notify = plugin.ports[6];
    EXPECT_TRUE(notify.carries_patch);
    EXPECT_FALSE(notify.carries_midi || notify.carries_time_position);

    EXPECT_TRUE(plugin.ports[7].optional);
    EXPECT_FALSE(plugin.ports[2].optional);
    EXPECT_TRUE(plugin.ports[8].reports_latency);
    EXPECT_EQ(plugin.latency_port, 8u);
}

TEST_F(WorldTest, ParametersPresetsAndFeatures)
{
    const World world = load();
    const PluginDescription plugin = describe(world, "described");
    ASSERT_EQ(plugin.parameters.size(), 1u);
    const ParameterDescription& level = plugin.parameters[0];
    EXPECT_EQ(level.uri, base + "described#level");
    EXPECT_EQ(level.short_name, "level");
    EXPECT_EQ(level.label, "Level");
    EXPECT_EQ(level.range, "http://lv2plug.in/ns/ext/atom#Float");
    EXPECT_EQ(level.default_value, 0.5f);
    EXPECT_EQ(level.minimum, 0.0f);
    EXPECT_EQ(level.maximum, 2.0f);
    ASSERT_EQ(plugin.presets.size(), 1u);
    EXPECT_EQ(plugin.presets[0].uri, base + "described#quiet");
    EXPECT_EQ(plugin.presets[0].label, "Quiet");
    EXPECT_EQ(plugin.required_features,
              std::vector<std::string>{"http://lv2plug.in/ns/ext/urid#map"});
    EXPECT_EQ(plugin.optional_features.size(), 2u);

    // Parameters by URI, with their short names; presets by their first label.
    const PluginDescription params = describe(world, "params");
    ASSERT_EQ(params.parameters.size(), 11u);
    EXPECT_EQ(params.parameters.front().uri, base + "params#bool");
    EXPECT_EQ(params.parameters.front().label, "A Bool");
    EXPECT_EQ(params.parameters.back().uri, base + "params/extra#gain");
    EXPECT_EQ(params.parameters.back().short_name, "gain");
    EXPECT_TRUE(std::isnan(params.parameters.front().minimum));
    std::vector<std::string> labels;
    for (const PresetDescription& preset : describe(world, "presets").presets) {
        labels.push_back(preset.label);
    }
    // Loading the presets' data may change the order lilv finds them in.
    const Result<std::vector<PresetDescription>> presets_only = world.presets(base + "presets");
    ASSERT_TRUE(presets_only.ok());
    std::vector<std::string> only_labels;
    for (const PresetDescription& preset : presets_only.value()) {
        only_labels.push_back(preset.label);
    }
    std::sort(only_labels.begin(), only_labels.end());
    std::sort(labels.begin(), labels.end());
    // The preset with two labels goes by the one lilv gives first.
    EXPECT_EQ(labels, (std::vector<std::string>{"Alpha", "Beta", "Outputs", "Second", "Strings",
                                                "Twin", "Twin", "Unknown"}));
    EXPECT_EQ(only_labels, labels);

    // The latency output by designation rather than by port property.
    EXPECT_EQ(describe(world, "delay").latency_port, 5u);
    EXPECT_EQ(describe(world, "thru").latency_port, std::nullopt);
}

TEST_F(WorldTest, TwoWorldsLiveSideBySide)
{
    std::optional<World> first(load());
    const World second = load();
    const PluginDescription a = describe(*first, "described");
    const PluginDescription b = describe(second, "described");
    EXPECT_EQ(a.ports.size(), b.ports.size());
    EXPECT_EQ(a.presets.size(), b.presets.size());
    EXPECT_EQ(first->plugin_uris(), second.plugin_uris());
    // The second world keeps working once the first is gone.
    first.reset();
    const PluginDescription again = describe(second, "described");
    EXPECT_EQ(again.ports.size(), 9u);
    EXPECT_EQ(again.presets.size(), 1u);
}
