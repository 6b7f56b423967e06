#pragma once

#include <tonbrix/export.h>

#include <tonbrix/error.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

enum class PortDirection { input, output, neither };

enum class PortType { audio, control, cv, atom, other };

// A labelled value of a control input.
struct ScalePoint {
    std::string label;
    float value = 0.0f;
};

// One port of a plugin as its data declares it. Numbers the plugin leaves
// out are NaN; URIs it leaves out are empty.
struct PortDescription {
    uint32_t index = 0;
    std::string symbol;
    std::string name; // lv2:name, else the symbol
    PortDirection direction = PortDirection::neither;
    PortType type = PortType::other;
    // Atom ports: what the buffer is and what its events may carry.
    std::string buffer_type; // atom:bufferType
    bool carries_midi = false;
    bool carries_patch = false;
    bool carries_time_position = false;
    // Control and CV ports.
    float default_value = 0.0f;
    float minimum = 0.0f;
    float maximum = 0.0f;
    std::string unit; // units:unit
    // The unit's symbol ("dB", "Hz", "%"): from the unit's own data, else
    // from the LV2 units vocabulary; empty when unknown.
    std::string unit_symbol;
    bool integer = false;
    bool toggled = false;
    bool enumeration = false;
    bool logarithmic = false;
    bool sample_rate = false; // the range is a fraction of the sample rate
    bool not_on_gui = false;
    bool optional = false; // lv2:connectionOptional
    bool reports_latency = false;
    std::vector<ScalePoint> scale_points; // by value
    std::string designation; // lv2:designation, e.g. lv2:control for the control atom input
};

// A parameter the plugin declares writable (patch:writable).
struct ParameterDescription {
    std::string uri;
    std::string short_name; // after the last '#', else after the last '/'
    std::string label;      // rdfs:label, else the short name
    std::string range;      // rdfs:range, e.g. an atom type
    float default_value = 0.0f; // NaN where undeclared
    float minimum = 0.0f;
    float maximum = 0.0f;
};

struct PresetDescription {
    std::string uri;
    std::string label; // the first rdfs:label
};

// What a plugin declares, as plain data.
struct PluginDescription {
    std::string uri;
    std::string name;
    std::string class_label;
    std::string class_uri;
    std::string project; // the project's name, else its URI
    std::string author;
    std::string author_email;    // as the data gives it, e.g. "mailto:..."
    std::string author_homepage;
    bool instrument = false; // a MIDI input and no audio input
    std::vector<PortDescription> ports; // by index
    std::optional<uint32_t> latency_port; // the control output that reports latency
    std::vector<ParameterDescription> parameters; // by URI
    std::vector<PresetDescription> presets; // the labelled ones, by label, then by URI
    std::vector<std::string> required_features;
    std::vector<std::string> optional_features;
    // The required and optional features tonbrix does not provide.
    std::vector<std::string> unprovided_features;
};

// What the plugin list tells of a plugin, enough to choose one without
// describing every plugin.
struct PluginSummary {
    std::string uri;
    std::string name; // "" when the data gives none
    std::string class_uri;
    std::string class_label;
    bool instrument = false; // a MIDI input and no audio input
};

// Every installed LV2 plugin, from the standard locations or the folders
// that LV2_PATH lists. Worlds are independent: several may live side by
// side, each used from one thread at a time (lilv's data is not shared
// between threads).
class TONBRIX_API World {
public:
    // Loads the plugin data; an error when the LV2 world cannot be made.
    static Result<World> load();

    World(World&&) noexcept;
    World& operator=(World&&) noexcept;
    ~World();

    // The URIs of every plugin, in list order (numbered from 1 by the tools).
    std::vector<std::string> plugin_uris() const;
    // The summary of every plugin, in list order.
    std::vector<PluginSummary> plugin_summaries() const;
    // The URI of the plugin with this list number (from 1), if any.
    std::optional<std::string> plugin_uri(std::size_t number) const;
    // True when a plugin has this URI.
    bool has_plugin(std::string_view uri) const;
    // The plugin's description; an error naming the URI when there is none.
    Result<PluginDescription> describe(std::string_view uri) const;
    // Only the plugin's labelled presets, without reading its ports.
    Result<std::vector<PresetDescription>> presets(std::string_view uri) const;

    // The URI of the plugin that the command line's text names: a list
    // number (from 1), else a URI; none when no plugin has it.
    std::optional<std::string> find_plugin(std::string_view text) const;

    struct Impl;

private:
    friend struct WorldAccess; // the library's own layers reach the LV2 world through it
    explicit World(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace tonbrix
