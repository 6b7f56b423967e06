#include "run/option_items.h"

#include "base/int_text.h"

#include <cstdlib>

namespace tonbrix {

namespace {

int read_number(std::string_view text)
{
    return saturating_atoi(std::string(text).c_str());
}

} // namespace

bool parse_parameter_item(std::string_view item, ParameterItem& parsed)
{
    const std::size_t colon = item.find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    parsed.symbol = item.substr(0, colon);
    const std::string number(item.substr(colon + 1));
    parsed.value = std::strtof(number.c_str(), nullptr);
    return true;
}

ConnectItemError parse_connect_item(std::string_view item, ConnectItem& parsed)
{
    const std::size_t colon = item.find(':');
    if (colon == std::string_view::npos) {
        return ConnectItemError::no_colon;
    }
    const std::size_t stop = item.find('.', colon + 1);
    if (stop != std::string_view::npos) {
        parsed.instance = read_number(item.substr(colon + 1, stop - colon - 1));
        if (parsed.instance < 1) {
            return ConnectItemError::bad_instance;
        }
        parsed.symbol = item.substr(stop + 1);
    } else {
        parsed.instance = 1;
        parsed.symbol = item.substr(colon + 1);
    }
    parsed.channel = read_number(item);
    return ConnectItemError::none;
}

Result<std::vector<ChannelConnection>> read_connections(const std::vector<std::string>& values)
{
    std::vector<ChannelConnection> connections;
    Error error;
    const bool ok = for_each_item(values, [&](std::string_view item) {
        ConnectItem parsed;
        switch (parse_connect_item(item, parsed)) {
        case ConnectItemError::no_colon:
            error.message = "Error parsing connection:  Expected colon between channel and port.\n";
            return false;
        case ConnectItemError::bad_instance:
            error.message = "Invalid plugin instance specified";
            return false;
        case ConnectItemError::none:
            break;
        }
        connections.push_back({parsed.channel, parsed.instance, std::move(parsed.symbol)});
        return true;
    });
    if (!ok) {
        return error;
    }
    return connections;
}

} // namespace tonbrix
