// The --parameters items: splitting at commas and "symbol:number".
#include "run/option_items.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace tonbrix;
using namespace tonbrix::cli;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // A NUL splits the input into several option values.
    std::vector<std::string> values;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            values.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    values.push_back(current);

    for_each_item(values, [&](std::string_view item) {
        if (item.find(',') != std::string_view::npos) {
            __builtin_trap();
        }
        ParameterItem parsed;
        const bool ok = parse_parameter_item(item, parsed);
        if (ok != (item.find(':') != std::string_view::npos)) {
            __builtin_trap();
        }
        if (ok) {
            if (parsed.symbol.find(':') != std::string::npos ||
                item.substr(0, parsed.symbol.size()) != parsed.symbol) {
                __builtin_trap();
            }
            const std::string number(item.substr(parsed.symbol.size() + 1));
            const float expected = std::strtof(number.c_str(), nullptr);
            if (std::memcmp(&expected, &parsed.value, sizeof expected) != 0) {
                __builtin_trap();
            }
        }
        return true;
    });
    return 0;
}
