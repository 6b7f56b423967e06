#include "lv2/lv2_path.h"

#include <gtest/gtest.h>

using namespace tonbrix;

TEST(AbsoluteLv2Path, PrefixesRelativeEntriesOnly)
{
    struct Case {
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        {"/usr/lib/lv2", "/usr/lib/lv2"},
        {"build/lv2", "/home/u/build/lv2"},
        {"./lv2:/opt/lv2", "/home/u/./lv2:/opt/lv2"},
        {"~/.lv2:plugins", "~/.lv2:/home/u/plugins"},
        {"", ""},
        {"a::/b", "/home/u/a::/b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(absolute_lv2_path(c.value, "/home/u"), c.expected) << c.value;
    }
    EXPECT_EQ(absolute_lv2_path("lv2", "/"), "/lv2");
}
