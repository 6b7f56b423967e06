// The --connect items: "channel:symbol" and "channel:instance.symbol".
#include "run/option_items.h"
#include "base/int_text.h"

#include <cstdint>
#include <string>

using namespace tonbrix;


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string value(reinterpret_cast<const char*>(data), size);
    std::size_t items = 0;
    for_each_item({value}, [&](std::string_view item) {
        ++items;
        ConnectItem parsed;
        const ConnectItemError error = parse_connect_item(item, parsed);
        const std::size_t colon = item.find(':');
        if ((error == ConnectItemError::no_colon) != (colon == std::string_view::npos)) {
            __builtin_trap();
        }
        if (error != ConnectItemError::none) {
            return true;
        }
        // The symbol is the item's tail; the instance is at least 1.
        if (parsed.instance < 1 || parsed.symbol.size() > item.size() ||
            item.substr(item.size() - parsed.symbol.size()) != parsed.symbol ||
            parsed.channel != saturating_atoi(std::string(item).c_str())) {
            __builtin_trap();
        }
        return true;
    });
    // All the items read, or none: one connection per item, each with an
    // instance of at least 1.
    const Result<std::vector<ChannelConnection>> connections = read_connections({value});
    if (connections.ok()) {
        if (connections->size() != items) {
            __builtin_trap();
        }
        for (const ChannelConnection& connection : connections.value()) {
            if (connection.instance < 1) {
                __builtin_trap();
            }
        }
    } else if (connections.error().message.empty()) {
        __builtin_trap();
    }
    return 0;
}
