#pragma once

#include <tonbrix/error.h>

#include <lilv/lilv.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

// A parameter the plugin declares with patch:writable.
struct WritableParameter {
    std::string uri;
    std::string short_name; // after the last '#', else after the last '/'
    std::string label;      // rdfs:label, else the short name
    std::string range;      // rdfs:range URI, empty when undeclared
};

// The plugin's writable parameters, by URI.
std::vector<WritableParameter> writable_parameters(LilvWorld* world, const LilvPlugin* plugin);

// One --set value, read by its parameter's range: the atom type URI and the
// atom body (text and paths end with their NUL).
struct ParameterValue {
    std::string uri;
    std::string type;
    std::vector<uint8_t> body;
};

enum class ParameterDelivery { none, state, messages };

// How the --set values reach the instances: restored as one state through
// the state interface, or as patch:Set messages in the atom input with port
// index `message_port`. Values that the restore does not ask for go as
// messages too, where the plugin has that input.
struct ParameterPlan {
    std::vector<ParameterValue> values;
    ParameterDelivery delivery = ParameterDelivery::none;
    bool has_message_port = false;
    uint32_t message_port = 0;
    std::vector<ParameterValue> message_values; // the values sent as patch:Set
};

// The text of a short name: the part of `uri` after its last '#', else
// after its last '/', else all of it.
std::string_view parameter_short_name(std::string_view uri);

// Reads VALUE by the parameter's range into an atom; false (nothing
// printed) when it cannot be read. Paths are made absolute here.
bool read_parameter_value(const WritableParameter& parameter, std::string_view text,
                          ParameterValue& value);

// Resolves every "PARAMETER=VALUE" item, reads its value and chooses the
// delivery. An error (naming the parameter) for the first item that cannot
// be used.
Status plan_parameters(LilvWorld* world, const LilvPlugin* plugin,
                     const std::vector<std::string>& items, ParameterPlan& plan);

} // namespace tonbrix
