#include "engine/routing.h"

#include "cli/option_items.h"

#include <string_view>

namespace {

// Prints a note unless the run is quiet (null `notes`).
void print_note(FILE* notes, const char* text)
{
    if (notes != nullptr) {
        std::fputs(text, notes);
    }
}

void connect(Routing& r, uint32_t instance, uint32_t input, uint32_t channel)
{
    const std::size_t at =
        channel + std::size_t{r.channels} * (input + std::size_t{r.inputs} * instance);
    r.matrix.data[at] = 1;
}

} // namespace

uint32_t count_instances(const std::vector<std::string>& connect_values)
{
    uint32_t count = 1;
    const bool ok = for_each_item(connect_values, [&](std::string_view item) {
        ConnectItem parsed;
        switch (parse_connect_item(item, parsed)) {
        case ConnectItemError::no_colon:
            std::fputs("Error parsing connection:  Expected colon between channel and port.\n",
                       stderr);
            return false;
        case ConnectItemError::bad_instance:
            std::fputs("Invalid plugin instance specified", stderr);
            return false;
        case ConnectItemError::none:
            break;
        }
        if (static_cast<uint32_t>(parsed.instance) > count) {
            count = static_cast<uint32_t>(parsed.instance);
        }
        return true;
    });
    return ok ? count : 0;
}

bool apply_connections(const std::vector<std::string>& connect_values, const LilvPlugin* plugin,
                       const PortIndexLists& lists, Routing& routing)
{
    return for_each_item(connect_values, [&](std::string_view item) {
        // The first pass (count_instances) has reported the malformed items.
        ConnectItem parsed;
        if (parse_connect_item(item, parsed) != ConnectItemError::none) {
            return false;
        }
        const int channel = parsed.channel;
        if (channel < 1 || static_cast<uint32_t>(channel) > routing.channels) {
            std::fprintf(stderr, "Input sound file does not have channel %u.  It has %u channels.\n",
                         static_cast<unsigned>(channel), routing.channels);
            return false;
        }
        for (uint32_t k = 0; k < lists.audio_inputs.size(); ++k) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, lists.audio_inputs[k]);
            if (parsed.symbol == lilv_node_as_string(lilv_port_get_symbol(plugin, port))) {
                connect(routing, static_cast<uint32_t>(parsed.instance - 1), k,
                        static_cast<uint32_t>(channel - 1));
                return true;
            }
        }
        std::fprintf(stderr, "Port with symbol %s does not exist.\n", parsed.symbol.c_str());
        return false;
    });
}

bool auto_map_channels(bool mono, Routing& r, FILE* notes)
{
    if (r.inputs == r.channels) {
        print_note(notes, "Note: Mapping audio channels to plugin ports based on ordering\n");
        for (uint32_t c = 0; c < r.channels; ++c) {
            connect(r, 0, c, c);
        }
    } else if (r.inputs == 1 && mono) {
        print_note(notes, "Note: Down mixing all channels to a single plugin input\n");
        for (uint32_t c = 0; c < r.channels; ++c) {
            connect(r, 0, 0, c);
        }
    } else if (r.inputs == 1) {
        print_note(notes, "Note: Running an instance of the plugin per channel\n");
        for (uint32_t c = 0; c < r.channels; ++c) {
            connect(r, c, 0, c);
        }
    } else if (r.inputs > r.channels) {
        std::fputs("Error: Not enough input channels to connect all of the plugin's ports.  "
                   "Please manually specify connections\n",
                   stderr);
        return false;
    } else {
        print_note(notes, "Note: Extra channels ignored when mapping channels to plugin ports\n");
        for (uint32_t c = 0; c < r.inputs; ++c) {
            connect(r, 0, c, c);
        }
    }
    return true;
}

uint32_t byte_sum(const uint8_t* bytes, uint32_t count)
{
    uint32_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return sum;
}

RouteResult route_channels(const std::vector<std::string>& connect_values, bool mono,
                           uint32_t channels, const PortIndexLists& lists,
                           const LilvPlugin* plugin, FILE* notes, Routing& routing)
{
    routing.channels = channels;
    routing.inputs = static_cast<uint32_t>(lists.audio_inputs.size());
    const bool user = !connect_values.empty();
    if (user) {
        routing.instances = count_instances(connect_values);
        if (routing.instances == 0) {
            return RouteResult::failed;
        }
    } else {
        routing.instances = (routing.inputs == 1 && !mono) ? channels : 1;
    }
    if (notes != nullptr) {
        std::fprintf(notes, "Note: Running %i instances of the plugin.\n",
                     static_cast<int>(routing.instances));
    }

    std::size_t size = 0;
    if (!checked_product({routing.instances, routing.inputs, routing.channels}, size) ||
        !routing.matrix.allocate(size)) {
        std::fputs(insufficient_memory_message, stderr);
        return RouteResult::out_of_memory;
    }
    if (user) {
        if (!apply_connections(connect_values, plugin, lists, routing)) {
            return RouteResult::failed;
        }
        print_note(notes, "Note: Only making user specified connections.\n");
        return RouteResult::ok;
    }
    return auto_map_channels(mono, routing, notes) ? RouteResult::ok : RouteResult::failed;
}
