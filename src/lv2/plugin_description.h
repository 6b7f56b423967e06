#pragma once

#include <lilv/lilv.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a plugin's data says about it, as plain values: everything --info
// shows, with no lilv types.

// A labelled value of a control or CV port.
struct ScalePoint {
    float value = 0.0f;
    std::string label;
};

enum class PortDirection { input, output, none };
enum class PortType { audio, control, cv, atom, other };

struct PortDescription {
    uint32_t index = 0;
    std::string symbol;
    std::string name; // the symbol when the data has no name
    PortDirection direction = PortDirection::none;
    PortType type = PortType::other;
    std::vector<std::string> classes;  // every rdf:type URI the data gives, in lilv's order
    std::vector<std::string> supports; // atom ports: atom:supports URIs (MIDI, patch, time)
    // Control and CV ports: the range as the data gives it (fractions of
    // the rate for sampleRate ports); absent when undeclared.
    std::optional<float> default_value;
    std::optional<float> minimum;
    std::optional<float> maximum;
    std::string unit_uri;    // units:unit, empty when undeclared
    std::string unit_symbol; // the unit's symbol, empty when unknown
    // Short names of the known lv2:portProperty values, in a fixed order:
    // integer, toggled, enumeration, logarithmic, sampleRate, notOnGUI.
    std::vector<std::string> properties;
    std::vector<ScalePoint> scale_points; // by value
    std::string designation;              // lv2:designation URI, empty when none
};

// A parameter declared patch:writable.
struct ParameterDescription {
    std::string uri;
    std::string short_name;
    std::string label;
    std::string range; // rdfs:range URI, the value's type; empty when undeclared
    std::optional<float> default_value;
    std::optional<float> minimum;
    std::optional<float> maximum;
};

struct FeatureDescription {
    std::string uri;
    bool required = false;
    bool provided = false; // tonbrix offers it, or it asks nothing of the host
};

struct PluginDescription {
    std::string uri;
    std::string name;
    std::string class_uri;
    std::string class_label;
    std::string project; // the project's name, else its URI; empty when none
    std::string author_name;
    std::string author_email;
    std::string author_homepage;
    bool instrument = false; // a MIDI input and no audio input
    std::vector<PortDescription> ports; // in index order
    std::optional<uint32_t> latency_port; // index of the port that reports the latency
    std::vector<ParameterDescription> parameters;
    std::size_t preset_count = 0;
    std::vector<FeatureDescription> features; // required first, each group by URI
};

// Reads everything the plugin's data says about it. Loads the plugin's
// presets' data; prints nothing.
PluginDescription describe_plugin(LilvWorld* world, const LilvPlugin* plugin);

// A unit's symbol for the units of the LV2 units vocabulary, used when the
// unit's own data gives none (the vocabulary is not on the plugin path).
// Empty for an unknown unit.
std::string known_unit_symbol(std::string_view unit_uri);
