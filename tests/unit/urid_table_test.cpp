#include "lv2/urid_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

using namespace tonbrix;

namespace {

// Maps through the record a plugin receives.
LV2_URID plugin_map(UridTable& table, const char* uri)
{
    LV2_URID_Map* map = table.map_feature();
    return map->map(map->handle, uri);
}

const char* plugin_unmap(UridTable& table, LV2_URID urid)
{
    LV2_URID_Unmap* unmap = table.unmap_feature();
    return unmap->unmap(unmap->handle, urid);
}

} // namespace

TEST(UridTable, UridsAreOneBasedInOrderOfFirstMapping)
{
    UridTable table;
    EXPECT_EQ(plugin_map(table, "urn:a"), 1u);
    EXPECT_EQ(plugin_map(table, "urn:b"), 2u);
    EXPECT_EQ(table.map("urn:a"), 1u);
    EXPECT_EQ(plugin_map(table, "urn:c"), 3u);
    EXPECT_EQ(table.size(), 3u);
    EXPECT_EQ(plugin_map(table, nullptr), 0u);
    EXPECT_EQ(table.size(), 3u);
}

TEST(UridTable, ComparesBytesExactly)
{
    UridTable table;
    const LV2_URID lower = plugin_map(table, "urn:x:abc");
    EXPECT_NE(plugin_map(table, "urn:x:ABC"), lower);
    EXPECT_NE(plugin_map(table, "urn:x:abc "), lower);
    EXPECT_NE(plugin_map(table, "urn:x:ab"), lower);
    EXPECT_EQ(plugin_map(table, "urn:x:abc"), lower);
}

TEST(UridTable, KeepsItsOwnCopyOfTheUri)
{
    UridTable table;
    std::string uri = "urn:caller:owned";
    const LV2_URID urid = plugin_map(table, uri.c_str());
    std::fill(uri.begin(), uri.end(), 'z');
    EXPECT_STREQ(plugin_unmap(table, urid), "urn:caller:owned");
    EXPECT_EQ(plugin_map(table, "urn:caller:owned"), urid);
}

TEST(UridTable, UnmapResultsStayValidWhileTheTableGrows)
{
    // Short strings live inside std::string objects; growth must not move them.
    UridTable table;
    const LV2_URID first = plugin_map(table, "urn:s");
    const char* text = plugin_unmap(table, first);
    for (int i = 0; i < 5000; ++i) {
        plugin_map(table, ("urn:grow:" + std::to_string(i)).c_str());
    }
    EXPECT_EQ(text, plugin_unmap(table, first));
    EXPECT_STREQ(text, "urn:s");
    EXPECT_EQ(plugin_map(table, "urn:grow:4999"), 5001u);
}

TEST(UridTable, UnmapGivesNullForZeroAndUnknown)
{
    UridTable table;
    plugin_map(table, "urn:only");
    EXPECT_EQ(plugin_unmap(table, 0), nullptr);
    EXPECT_EQ(plugin_unmap(table, 2), nullptr);
    EXPECT_STREQ(plugin_unmap(table, 1), "urn:only");
}

TEST(UridTable, TwoTablesNumberOnTheirOwn)
{
    // Two worlds in one process each keep their own numbering.
    UridTable first;
    UridTable second;
    EXPECT_EQ(plugin_map(first, "urn:one"), 1u);
    EXPECT_EQ(plugin_map(second, "urn:two"), 1u);
    EXPECT_EQ(plugin_map(first, "urn:two"), 2u);
    EXPECT_STREQ(plugin_unmap(first, 1), "urn:one");
    EXPECT_STREQ(plugin_unmap(second, 1), "urn:two");
    EXPECT_EQ(plugin_unmap(second, 2), nullptr);
}

TEST(UridTable, ThreadsMappingAtOnceAgreeOnEveryUrid)
{
    // Instances on several threads map the same URIs; each URI gets one URID.
    UridTable table;
    constexpr int uris = 200;
    std::vector<std::vector<LV2_URID>> seen(4, std::vector<LV2_URID>(uris));
    {
        std::vector<std::jthread> threads;
        for (std::size_t t = 0; t < seen.size(); ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < uris; ++i) {
                    seen[t][i] = plugin_map(table, ("urn:shared:" + std::to_string(i)).c_str());
                }
            });
        }
    }
    EXPECT_EQ(table.size(), static_cast<std::size_t>(uris));
    for (std::size_t t = 1; t < seen.size(); ++t) {
        EXPECT_EQ(seen[t], seen[0]);
    }
    for (int i = 0; i < uris; ++i) {
        EXPECT_EQ(plugin_unmap(table, seen[0][i]), "urn:shared:" + std::to_string(i));
    }
}

TEST(UridTable, MapsTheHostUridsOnce)
{
    UridTable table;
    Urids urids{};
    ASSERT_TRUE(map_urids(table, urids));
    EXPECT_STREQ(plugin_unmap(table, urids.atom_Sequence), "http://lv2plug.in/ns/ext/atom#Sequence");
    EXPECT_STREQ(plugin_unmap(table, urids.log_Error), "http://lv2plug.in/ns/ext/log#Error");
    const std::size_t size = table.size();
    Urids again{};
    ASSERT_TRUE(map_urids(table, again));
    EXPECT_EQ(table.size(), size);
    EXPECT_EQ(again.param_sampleRate, urids.param_sampleRate);
}
