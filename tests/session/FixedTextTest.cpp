#include "session/FixedText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace varnel {
namespace {

TEST(FixedTextTest, CutsLongTextsAtCharacterBoundaries) {
    char buf[8];
    EXPECT_EQ(CopyFixedText(buf, sizeof buf, "abc"), 3u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(CopyFixedText(buf, sizeof buf, "abcdefghij"), 7u);
    EXPECT_STREQ(buf, "abcdefg");
    // "日" is three bytes: 2 + 3 + 3 = 8 does not fit in 7, so the second one goes whole.
    EXPECT_EQ(CopyFixedText(buf, sizeof buf, "ab日本"), 5u);
    EXPECT_STREQ(buf, "ab日");
    // Exactly filling the buffer keeps everything.
    EXPECT_EQ(CopyFixedText(buf, sizeof buf, "a日本"), 7u);
    EXPECT_STREQ(buf, "a日本");
    char one[1];
    EXPECT_EQ(CopyFixedText(one, 1, "x"), 0u);
    EXPECT_STREQ(one, "");
}

TEST(FixedTextTest, Utf8PrefixNeverSplitsFourByteCharacters) {
    std::string s = "x\xF0\x9F\x98\x80y";  // x, an emoji, y
    for (size_t max = 0; max <= s.size(); ++max) {
        size_t n = Utf8PrefixLength(s, max);
        EXPECT_LE(n, max);
        EXPECT_TRUE(n == 0 || n == 1 || n == 5 || n == 6) << max;
    }
}

}  // namespace
}  // namespace varnel
