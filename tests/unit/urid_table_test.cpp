#include "lv2/urid_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class UridTableTest : public ::testing::Test {
protected:
    void SetUp() override { urid_table_free(); }
    void TearDown() override { urid_table_free(); }
};

} // namespace

TEST_F(UridTableTest, UridsAreOneBasedInOrderOfFirstMapping)
{
    EXPECT_EQ(urid_map(nullptr, "urn:a"), 1u);
    EXPECT_EQ(urid_map(nullptr, "urn:b"), 2u);
    EXPECT_EQ(urid_map(nullptr, "urn:a"), 1u);
    EXPECT_EQ(urid_map(nullptr, "urn:c"), 3u);
    EXPECT_EQ(g_urid_table.entries.size(), 3u);
}

TEST_F(UridTableTest, ComparesBytesExactly)
{
    const LV2_URID lower = urid_map(nullptr, "urn:x:abc");
    EXPECT_NE(urid_map(nullptr, "urn:x:ABC"), lower);
    EXPECT_NE(urid_map(nullptr, "urn:x:abc "), lower);
    EXPECT_NE(urid_map(nullptr, "urn:x:ab"), lower);
    EXPECT_EQ(urid_map(nullptr, "urn:x:abc"), lower);
}

TEST_F(UridTableTest, IgnoresTheHandle)
{
    int anything = 0;
    const LV2_URID first = urid_map(nullptr, "urn:h");
    EXPECT_EQ(urid_map(&anything, "urn:h"), first);
    EXPECT_EQ(g_urid_map_record.map(g_urid_map_record.handle, "urn:h"), first);
}

TEST_F(UridTableTest, KeepsItsOwnCopyOfTheUri)
{
    std::string uri = "urn:caller:owned";
    const LV2_URID urid = urid_map(nullptr, uri.c_str());
    std::fill(uri.begin(), uri.end(), 'z');
    EXPECT_STREQ(urid_unmap(nullptr, urid), "urn:caller:owned");
    EXPECT_EQ(urid_map(nullptr, "urn:caller:owned"), urid);
}

TEST_F(UridTableTest, UnmapResultsStayValidWhileTheTableGrows)
{
    // Short strings live inside std::string objects; growth must not move them.
    const LV2_URID first = urid_map(nullptr, "urn:s");
    const char* text = urid_unmap(nullptr, first);
    for (int i = 0; i < 5000; ++i) {
        urid_map(nullptr, ("urn:grow:" + std::to_string(i)).c_str());
    }
    EXPECT_EQ(text, urid_unmap(nullptr, first));
    EXPECT_STREQ(text, "urn:s");
    EXPECT_EQ(urid_map(nullptr, "urn:grow:4999"), 5001u);
}

TEST_F(UridTableTest, UnmapGivesNullForZeroAndUnknown)
{
    urid_map(nullptr, "urn:only");
    EXPECT_EQ(urid_unmap(nullptr, 0), nullptr);
    EXPECT_EQ(urid_unmap(nullptr, 2), nullptr);
    EXPECT_EQ(g_urid_unmap_record.unmap(g_urid_unmap_record.handle, 1), std::string("urn:only"));
}

TEST_F(UridTableTest, FreeEmptiesTheTableAndNumberingStartsAgain)
{
    urid_map(nullptr, "urn:one");
    urid_map(nullptr, "urn:two");
    urid_table_free();
    EXPECT_TRUE(g_urid_table.entries.empty());
    EXPECT_EQ(urid_unmap(nullptr, 1), nullptr);
    urid_table_free(); // freeing an empty table does nothing
    EXPECT_EQ(urid_map(nullptr, "urn:two"), 1u);
}
