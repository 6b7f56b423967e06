#pragma once

#include "engine/routing.h"

#include <tonbrix/error.h>

#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

// Calls visit(item) for every comma-separated item of every value, in
// order; stops and returns false as soon as visit does. Empty items
// between commas are visited; a value's trailing comma adds none.
template <class Visit>
bool for_each_item(const std::vector<std::string>& values, Visit visit)
{
    for (const std::string& value : values) {
        std::string_view rest(value);
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            const std::string_view item = rest.substr(0, comma);
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            if (!visit(item)) {
                return false;
            }
        }
    }
    return true;
}

// A --parameters item, "symbol:number".
struct ParameterItem {
    std::string symbol; // before the first colon
    float value = 0.0f; // the text after it as strtof reads it (0 without a number)
};

// False when the item has no colon.
bool parse_parameter_item(std::string_view item, ParameterItem& parsed);

// A --connect item, "channel:symbol" or "channel:instance.symbol".
struct ConnectItem {
    int channel = 0;  // the leading number, read as atoi reads it (saturated)
    int instance = 1; // 1 without an instance number
    std::string symbol;
};

enum class ConnectItemError { none, no_colon, bad_instance };

// Reads one item; the instance number must be at least 1.
ConnectItemError parse_connect_item(std::string_view item, ConnectItem& parsed);

// Reads every --connect item, in order; the message of the first one that
// has no colon or a bad instance number.
Result<std::vector<ChannelConnection>> read_connections(const std::vector<std::string>& values);

} // namespace tonbrix
