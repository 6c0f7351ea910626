#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "text/FixedText.h"

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

TEST(FixedTextTest, PrintableLineBlanksEveryControlButKeepsMultibyteText) {
    using namespace std::string_literals;
    EXPECT_EQ(PrintableLine("a\x1b[2Jb\tc\r\nd\x7f"s + "\0e"s), "a [2Jb c  d  e");
    // U+0085 (NEL) and U+009B (CSI) are controls; U+00A0 (C2 A0) and U+00C2 (C3 82) are not.
    EXPECT_EQ(PrintableLine("x\xC2\x85y\xC2\x9B"
                            "1m\xC2\xA0\xC3\x82"),
              "x y 1m\xC2\xA0\xC3\x82");
    EXPECT_EQ(PrintableLine("ホスト名\x1b]0;title\x07日本"), "ホスト名 ]0;title 日本");
    // A lone lead byte at the end and stray continuation bytes are left as they are.
    EXPECT_EQ(PrintableLine("\x9b\xC2"), "\x9b\xC2");
    EXPECT_EQ(PrintableLine(""), "");
}

}  // namespace
}  // namespace varnel
