// The --set values as a state: what a restore asks for is recorded, and a
// value it did not ask for gets the one unknown key of the same short name.
#include "lv2/parameter_state.h"
#include "lv2/urid_table.h"

#include <algorithm>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tonbrix;

namespace {

ParameterValue float_value(const std::string& uri, float x)
{
    ParameterValue value{uri, "http://lv2plug.in/ns/ext/atom#Float", {}};
    const auto* bytes = reinterpret_cast<const uint8_t*>(&x);
    value.body.assign(bytes, bytes + sizeof x);
    return value;
}

// Asks for each key in turn, as a plugin's restore does.
void ask(UridTable& table, ParameterState& state, const std::vector<std::string>& keys)
{
    std::fill(state.asked.begin(), state.asked.end(), 0);
    state.unknown_keys.clear();
    for (const std::string& key : keys) {
        std::size_t size = 0;
        uint32_t type = 0;
        uint32_t flags = 0;
        retrieve_parameter(&state, table.map(key), &size, &type, &flags);
    }
}

} // namespace

TEST(ParameterState, ValuesNotAskedForTakeTheOneKeyOfTheSameShortName)
{
    const std::string declared = "http://a.test/ports#";
    const std::string own = "http://a.test/plugin/ports#";
    struct Case {
        const char* label;
        std::vector<std::string> asked;  // the keys of the first restore
        std::vector<std::string> wanted; // by value: its alias, "" for none
    };
    const Case cases[] = {
        {"all asked by their URI", {declared + "file", declared + "gain"}, {"", ""}},
        {"one under another key", {own + "file", declared + "gain"}, {own + "file", ""}},
        {"both under other keys", {own + "gain", own + "file"}, {own + "file", own + "gain"}},
        {"two keys of that short name: none", {own + "file", "urn:other#file"}, {"", ""}},
        {"short names differ: none", {own + "files", own + "gain2"}, {"", ""}},
        {"nothing asked", {}, {"", ""}},
    };
    for (const Case& c : cases) {
        const std::vector<ParameterValue> values = {float_value(declared + "file", 1.0f),
                                                    float_value(declared + "gain", 2.0f)};
        UridTable table;
        ParameterState state;
        make_parameter_state(values, table.map_feature(), state);
        ask(table, state, c.asked);
        bool any = false;
        for (const std::string& alias : c.wanted) {
            any = any || !alias.empty();
        }
        EXPECT_EQ(add_parameter_aliases(state, table.unmap_feature()), any) << c.label;
        for (std::size_t v = 0; v < values.size(); ++v) {
            const LV2_URID want = c.wanted[v].empty() ? 0 : table.map(c.wanted[v]);
            EXPECT_EQ(state.aliases[v], want) << c.label << ", value " << v;
        }
        // A second restore that asks for the same keys now gets every value.
        ask(table, state, c.asked);
        for (std::size_t v = 0; v < values.size(); ++v) {
            if (!c.wanted[v].empty()) {
                std::size_t size = 0;
                uint32_t type = 0;
                uint32_t flags = 0;
                const void* body = retrieve_parameter(
                    &state, table.map(c.wanted[v]), &size, &type, &flags);
                ASSERT_NE(body, nullptr) << c.label;
                EXPECT_EQ(*static_cast<const float*>(body), v == 0 ? 1.0f : 2.0f) << c.label;
                EXPECT_EQ(state.asked[v], 1) << c.label;
            }
        }
        // Aliases once given stay: another call adds none.
        EXPECT_FALSE(add_parameter_aliases(state, table.unmap_feature())) << c.label;
    }
}
