#include "lv2/parameters.h"

#include "lv2/lilv_owners.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

namespace tonbrix {

namespace {

template <class T>
void put_bytes(ParameterValue& value, T number)
{
    value.body.resize(sizeof(T));
    std::memcpy(value.body.data(), &number, sizeof(T));
}

void put_text(ParameterValue& value, std::string_view text)
{
    value.body.assign(text.begin(), text.end());
    value.body.push_back(0);
}

// The whole text as a finite number.
bool read_real(const std::string& text, double& result)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    result = std::strtod(text.c_str(), &end);
    return *end == '\0' && errno == 0 && std::isfinite(result);
}

// The whole text as a decimal integer within [low, high].
bool read_integer(const std::string& text, long long low, long long high, long long& result)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    result = std::strtoll(text.c_str(), &end, 10);
    return *end == '\0' && errno == 0 && result >= low && result <= high;
}

// The absolute form of a path that names a readable regular file.
bool readable_file(std::string_view text, std::string& absolute)
{
    if (text.empty()) {
        return false;
    }
    std::error_code error;
    const std::filesystem::path path =
        std::filesystem::absolute(std::filesystem::path(text), error);
    if (error || !std::filesystem::is_regular_file(path, error) || error) {
        return false;
    }
    absolute = path.lexically_normal().string();
    return access(absolute.c_str(), R_OK) == 0;
}

// The single node of `subject predicate ?`, as text; empty when there is none.
std::string world_text(LilvWorld* world, const LilvNode* subject, const char* predicate)
{
    NodePtr property(lilv_new_uri(world, predicate));
    NodePtr value(lilv_world_get(world, subject, property.get(), nullptr));
    return value ? lilv_node_as_string(value.get()) : std::string();
}

// The atom input that takes patch messages: the one designated lv2:control,
// else the first that supports patch:Message. False when there is none.
bool control_atom_input(LilvWorld* world, const LilvPlugin* plugin, uint32_t& index)
{
    NodePtr input(lilv_new_uri(world, LV2_CORE__InputPort));
    NodePtr atom_port(lilv_new_uri(world, LV2_ATOM__AtomPort));
    NodePtr control(lilv_new_uri(world, LV2_CORE__control));
    NodePtr message(lilv_new_uri(world, LV2_PATCH__Message));
    const LilvPort* designated =
        lilv_plugin_get_port_by_designation(plugin, input.get(), control.get());
    if (designated != nullptr && lilv_port_is_a(plugin, designated, atom_port.get())) {
        index = lilv_port_get_index(plugin, designated);
        return true;
    }
    const uint32_t count = lilv_plugin_get_num_ports(plugin);
    for (uint32_t i = 0; i < count; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        if (lilv_port_is_a(plugin, port, input.get()) &&
            lilv_port_is_a(plugin, port, atom_port.get()) &&
            lilv_port_supports_event(plugin, port, message.get())) {
            index = i;
            return true;
        }
    }
    return false;
}

// The parameter that `name` stands for; null, with the message in `error`,
// when it names none or several.
const WritableParameter* find_parameter(const std::vector<WritableParameter>& parameters,
                                        const std::string& name, Error& error)
{
    for (const WritableParameter& parameter : parameters) {
        if (parameter.uri == name) {
            return &parameter;
        }
    }
    std::vector<const WritableParameter*> matches;
    std::string candidates;
    for (const WritableParameter& parameter : parameters) {
        if (parameter.short_name == name) {
            candidates += matches.empty() ? "" : ", ";
            candidates += parameter.uri;
            matches.push_back(&parameter);
        }
    }
    if (matches.size() == 1) {
        return matches.front();
    }
    if (matches.empty()) {
        error.message = "Error: the plugin has no writable parameter '" + name + "'.\n";
    } else {
        error.message = "Error: parameter name '" + name + "' is ambiguous: it matches " +
                        candidates + ".\n";
    }
    return nullptr;
}

// What a value of this range must look like, for the error message.
const char* expected_value(std::string_view range)
{
    if (range == LV2_ATOM__Int || range == LV2_ATOM__Long) {
        return "a whole number";
    }
    if (range == LV2_ATOM__Bool) {
        return "true, false or a whole number";
    }
    return "a number";
}

bool known_range(std::string_view range)
{
    for (const char* uri : {LV2_ATOM__Path, LV2_ATOM__Float, LV2_ATOM__Double, LV2_ATOM__Int,
                            LV2_ATOM__Long, LV2_ATOM__Bool, LV2_ATOM__String, LV2_ATOM__URI}) {
        if (range == uri) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string_view parameter_short_name(std::string_view uri)
{
    std::size_t cut = uri.rfind('#');
    if (cut == std::string_view::npos) {
        cut = uri.rfind('/');
    }
    return cut == std::string_view::npos ? uri : uri.substr(cut + 1);
}

std::vector<WritableParameter> writable_parameters(LilvWorld* world, const LilvPlugin* plugin)
{
    std::vector<WritableParameter> parameters;
    NodePtr writable(lilv_new_uri(world, LV2_PATCH__writable));
    NodesPtr nodes(lilv_plugin_get_value(plugin, writable.get()));
    if (!nodes) {
        return parameters;
    }
    LILV_FOREACH (nodes, it, nodes.get()) {
        const LilvNode* node = lilv_nodes_get(nodes.get(), it);
        if (!lilv_node_is_uri(node)) {
            continue;
        }
        WritableParameter parameter;
        parameter.uri = lilv_node_as_uri(node);
        parameter.short_name = parameter_short_name(parameter.uri);
        parameter.label = world_text(world, node, LILV_NS_RDFS "label");
        if (parameter.label.empty()) {
            parameter.label = parameter.short_name;
        }
        parameter.range = world_text(world, node, LILV_NS_RDFS "range");
        parameters.push_back(std::move(parameter));
    }
    std::sort(parameters.begin(), parameters.end(),
              [](const WritableParameter& a, const WritableParameter& b) { return a.uri < b.uri; });
    return parameters;
}

bool read_parameter_value(const WritableParameter& parameter, std::string_view text,
                          ParameterValue& value)
{
    const std::string_view range = parameter.range;
    const std::string number(text);
    value.uri = parameter.uri;
    value.type = parameter.range;
    double real = 0.0;
    long long whole = 0;
    if (range == LV2_ATOM__Path) {
        std::string absolute;
        if (!readable_file(text, absolute)) {
            return false;
        }
        put_text(value, absolute);
    } else if (range == LV2_ATOM__String || range == LV2_ATOM__URI) {
        put_text(value, text);
    } else if (range == LV2_ATOM__Float) {
        if (!read_real(number, real) || std::fabs(real) > std::numeric_limits<float>::max()) {
            return false;
        }
        put_bytes(value, static_cast<float>(real));
    } else if (range == LV2_ATOM__Double) {
        if (!read_real(number, real)) {
            return false;
        }
        put_bytes(value, real);
    } else if (range == LV2_ATOM__Int) {
        if (!read_integer(number, INT32_MIN, INT32_MAX, whole)) {
            return false;
        }
        put_bytes(value, static_cast<int32_t>(whole));
    } else if (range == LV2_ATOM__Long) {
        if (!read_integer(number, INT64_MIN, INT64_MAX, whole)) {
            return false;
        }
        put_bytes(value, static_cast<int64_t>(whole));
    } else if (range == LV2_ATOM__Bool) {
        if (text == "true" || text == "false") {
            whole = text == "true" ? 1 : 0;
        } else if (!read_integer(number, INT64_MIN, INT64_MAX, whole)) {
            return false;
        }
        put_bytes(value, static_cast<int32_t>(whole != 0 ? 1 : 0));
    } else {
        return false;
    }
    return true;
}

Status plan_parameters(LilvWorld* world, const LilvPlugin* plugin,
                       const std::vector<std::string>& items, ParameterPlan& plan)
{
    if (items.empty()) {
        return {};
    }
    const std::vector<WritableParameter> parameters = writable_parameters(world, plugin);
    for (const std::string& item : items) {
        const std::size_t equals = item.find('=');
        if (equals == std::string::npos) {
            return Error{"Error: invalid --set value '" + item +
                         "': expected PARAMETER=VALUE.\n"};
        }
        const std::string name = item.substr(0, equals);
        const std::string_view text = std::string_view(item).substr(equals + 1);
        Error error;
        const WritableParameter* parameter = find_parameter(parameters, name, error);
        if (parameter == nullptr) {
            return error;
        }
        if (!known_range(parameter->range)) {
            return Error{"Error: parameter '" + name + "' has a type that cannot be set (" +
                         (parameter->range.empty() ? "no rdfs:range" : parameter->range) +
                         ").\n"};
        }
        ParameterValue value;
        if (!read_parameter_value(*parameter, text, value)) {
            const std::string shown(text);
            if (parameter->range == LV2_ATOM__Path) {
                return Error{"Error: parameter '" + name + "': '" + shown +
                             "' does not name a readable file.\n"};
            }
            return Error{"Error: invalid value '" + shown + "' for parameter '" + name +
                         "': expected " + expected_value(parameter->range) + ".\n"};
        }
        // A parameter set twice keeps its last value.
        std::erase_if(plan.values, [&](const ParameterValue& v) { return v.uri == value.uri; });
        plan.values.push_back(std::move(value));
    }

    NodePtr state_interface(lilv_new_uri(world, LV2_STATE__interface));
    plan.has_message_port = control_atom_input(world, plugin, plan.message_port);
    if (lilv_plugin_has_extension_data(plugin, state_interface.get())) {
        plan.delivery = ParameterDelivery::state;
    } else if (plan.has_message_port) {
        plan.delivery = ParameterDelivery::messages;
        plan.message_values = plan.values;
    } else {
        const std::string name = items.front().substr(0, items.front().find('='));
        return Error{"Error: cannot set parameter '" + name +
                     "': the plugin has neither the state interface nor a control atom "
                     "input.\n"};
    }
    return {};
}

} // namespace tonbrix
