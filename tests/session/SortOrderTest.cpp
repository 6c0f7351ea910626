#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "session/Collation.h"
#include "session/DottedAddress.h"

namespace varnel {
namespace {

int Sign(int v) {
    return (v > 0) - (v < 0);
}

TEST(CollationTest, OrdersTextsAsAPersonReadsThem) {
    // Each text sorts before the next.
    const char* ordered[] = {"",  " ", "  a", "(1.2)", "-x", "0", "09", "1", "10", "10 ",         "100",
                             "a", "A", "ab",  "Ab",    "b",  "B", "ba", "z", "Z",  "\xE6\x97\xA5"};
    const int n = sizeof ordered / sizeof *ordered;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            EXPECT_EQ(Sign(CompareSortKeys(ordered[i], ordered[j])), Sign(i - j))
                << '"' << ordered[i] << "\" vs \"" << ordered[j] << '"';
}

TEST(CollationTest, BlankPaddedFieldsKeepFieldOrder) {
    // "%-20s" keys: a shorter name is padded with blanks, which sort before every letter and digit.
    std::string a = "abc                 00080", b = "abcd                00022";
    EXPECT_LT(CompareSortKeys(a.c_str(), b.c_str()), 0);
    EXPECT_LT(CompareSortKeys("mail.example.com", "Mail.example.org"), 0) << "letters decide before case";
}

TEST(DottedAddressTest, ReadsFourOctetsInNetworkOrder) {
    uint32_t v = ParseDottedAddress("10.0.0.1");
    const auto* b = reinterpret_cast<const unsigned char*>(&v);
    EXPECT_EQ(b[0], 10);
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(b[2], 0);
    EXPECT_EQ(b[3], 1);
    EXPECT_EQ(ParseDottedAddress("10.0.0"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseDottedAddress(""), 0xFFFFFFFFu);
    EXPECT_EQ(ParseDottedAddress("300.1.1.1"), 0u);
    EXPECT_EQ(ParseDottedAddress("1.1.1.-1"), 0u);
    EXPECT_EQ(ParseDottedAddress("99999999999999999999.1.1.1"), 0u) << "no overflow";
    EXPECT_EQ(ParseDottedAddress("127.0.0.1:80 trailing"), ParseDottedAddress("127.0.0.1"));
    EXPECT_EQ(ParseDottedAddress("(127.0.0.1)"), ParseDottedAddress("0.0.0.1")) << "atoi of '(' is 0";
}

TEST(DottedAddressTest, WritesTheOctetsInMemoryOrderOnAnyMachine) {
    const unsigned char bytes[4] = {192, 0, 2, 255};
    uint32_t packed;
    std::memcpy(&packed, bytes, sizeof packed);
    char text[16];
    EXPECT_EQ(FormatDottedAddress(packed, text), 11u);
    EXPECT_STREQ(text, "192.0.2.255");
    EXPECT_EQ(ParseDottedAddress(text), packed);
}

}  // namespace
}  // namespace varnel
