#include "run/range_warnings.h"

#include "run/option_items.h"

#include <tonbrix/number_text.h>

#include <cmath>
#include <map>
#include <optional>

namespace tonbrix {

namespace {

// The index of the control or CV input with this symbol, or -1.
int64_t input_index(const LilvPlugin* plugin, const PortIndexLists& lists, const std::string& symbol)
{
    for (const std::vector<uint32_t>* ports : {&lists.control_inputs, &lists.cv_inputs}) {
        for (const uint32_t p : *ports) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
            if (symbol == lilv_node_as_string(lilv_port_get_symbol(plugin, port))) {
                return p;
            }
        }
    }
    return -1;
}

} // namespace

std::string range_warning(std::string_view symbol, std::span<const float> values, bool automated,
                          float minimum, float maximum)
{
    // The lowest value below the range and the highest above it.
    std::optional<float> lowest;
    std::optional<float> highest;
    for (const float value : values) {
        if (value < minimum && (!lowest || value < *lowest)) {
            lowest = value;
        }
        if (value > maximum && (!highest || value > *highest)) {
            highest = value;
        }
    }
    if (!lowest && !highest) {
        return {};
    }
    std::string text = "WARNING: " + std::string(symbol) + (automated ? " moves to " : " is ");
    text += lowest ? float_text(*lowest) : "";
    text += lowest && highest ? " and " : "";
    text += highest ? float_text(*highest) : "";
    if (std::isnan(minimum)) {
        text += ", above its maximum " + float_text(maximum);
    } else if (std::isnan(maximum)) {
        text += ", below its minimum " + float_text(minimum);
    } else {
        text += ", outside its range " + float_text(minimum) + " to " + float_text(maximum);
    }
    return text + " (applied as given).\n";
}

std::string range_warnings(const PluginStep& step, const EventPlan& plan,
                           const LilvPlugin* plugin, const PortIndexLists& lists,
                           const PortRanges& ranges)
{
    struct Given {
        std::string symbol;
        std::vector<float> values;
        bool automated = false;
    };
    std::map<uint32_t, Given> given; // by port index
    for (const auto& [symbol, value] : step.controls) {
        const int64_t index = input_index(plugin, lists, symbol);
        if (index >= 0) {
            given[static_cast<uint32_t>(index)] = {symbol, {value}, false};
        }
    }
    for_each_item(step.control_items, [&](std::string_view item) {
        ParameterItem parsed;
        if (parse_parameter_item(item, parsed)) {
            const int64_t index = input_index(plugin, lists, parsed.symbol);
            if (index >= 0) {
                given[static_cast<uint32_t>(index)] = {parsed.symbol, {parsed.value}, false};
            }
        }
        return true;
    });
    // An automated input takes its points, not the -p value.
    for (std::size_t a = 0; a < plan.automated.size(); ++a) {
        Given& port = given[plan.automated[a].index];
        port = {plan.automated_symbols[a], {}, true};
        for (const AutomationPoint& point : plan.automated[a].points) {
            port.values.push_back(static_cast<float>(point.value));
        }
    }
    std::string text;
    for (const auto& [index, port] : given) {
        if (index < ranges.minimums.size() && index < ranges.maximums.size()) {
            text += range_warning(port.symbol, port.values, port.automated,
                                  ranges.minimums[index], ranges.maximums[index]);
        }
    }
    return text;
}

} // namespace tonbrix
