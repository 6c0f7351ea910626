#include "display/core/ColorScheme.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "settings/SettingsFile.h"
#include "display/core/DomainClass.h"

namespace varnel {
namespace {

std::string KeyOf(int item) { return ColorScheme::Item(item).key; }
std::string ClassOf(std::string_view text) { return KeyOf(DomainClass::Classify(text)); }

TEST(DomainClassTest, JapaneseSecondLevelDomains) {
    EXPECT_EQ(ClassOf("host.example.co.jp"), "Color_co_jp");
    EXPECT_EQ(ClassOf("HOST.EXAMPLE.CO.JP"), "Color_co_jp");
    EXPECT_EQ(ClassOf("town.example.lg.jp"), "Color_lg_jp");
    EXPECT_EQ(ClassOf("a.ne.jp"), "Color_ne_jp");
    EXPECT_EQ(ClassOf("a.or.jp"), "Color_or_jp");
    EXPECT_EQ(ClassOf("a.ad.jp"), "Color_ad_jp");
    EXPECT_EQ(ClassOf("a.gr.jp"), "Color_gr_jp");
    EXPECT_EQ(ClassOf("a.ed.jp"), "Color_ed_jp");
    EXPECT_EQ(ClassOf("a.ac.jp"), "Color_ac_jp");
    EXPECT_EQ(ClassOf("a.go.jp"), "Color_go_jp");
    // Too short for the six-byte suffix, or some other .jp name.
    EXPECT_EQ(ClassOf("co.jp"), "Color_def_jp");
    EXPECT_EQ(ClassOf("example.jp"), "Color_def_jp");
    EXPECT_EQ(ClassOf("xco.jp"), "Color_def_jp");
    // A .jp name is never taken for an address literal.
    EXPECT_EQ(ClassOf("1.2.jp"), "Color_def_jp");
}

TEST(DomainClassTest, GenericDomainsAndOthers) {
    EXPECT_EQ(ClassOf("mail.example.com"), "Color_com");
    EXPECT_EQ(ClassOf("mail.example.com."), "Color_default");
    EXPECT_EQ(ClassOf("example.org.uk"), "Color_default");
    EXPECT_EQ(ClassOf("example.info"), "Color_info");
    EXPECT_EQ(ClassOf("example.int"), "Color_int");
    EXPECT_EQ(ClassOf("example.travel"), "Color_travel");
    EXPECT_EQ(ClassOf("EXAMPLE.Museum"), "Color_museum");
    EXPECT_EQ(ClassOf("x.post"), "Color_post");
    EXPECT_EQ(ClassOf("x.biz"), "Color_biz");
    EXPECT_EQ(ClassOf(".com"), "Color_com");
    EXPECT_EQ(ClassOf("com"), "Color_default");
    // The parenthesised address shown while a lookup is pending is no literal.
    EXPECT_EQ(ClassOf("(10.0.0.1)"), "Color_default");
    // Bytes beyond ASCII are compared, not folded.
    EXPECT_EQ(ClassOf("例え.com"), "Color_com");
    EXPECT_EQ(ClassOf("例え"), "Color_default");
}

TEST(DomainClassTest, AddressLiterals) {
    EXPECT_EQ(ClassOf("192.168.0.1"), "Color_ip_addr");
    EXPECT_EQ(ClassOf("0.0.0.0"), "Color_ip_addr");
    EXPECT_EQ(ClassOf("123"), "Color_ip_addr");
    EXPECT_EQ(ClassOf(""), "Color_ip_addr");
    EXPECT_EQ(ClassOf("192.168.0.x"), "Color_default");
    EXPECT_EQ(ClassOf("192.168.0.1 "), "Color_default");
}

TEST(DomainClassTest, Ipv6AddressLiteralsAreAddressesLikeDottedOnes) {
    EXPECT_EQ(ClassOf("::1"), "Color_ip_addr");
    EXPECT_EQ(ClassOf("::"), "Color_ip_addr");
    EXPECT_EQ(ClassOf("2001:db8::dead:beef"), "Color_ip_addr");
    EXPECT_EQ(ClassOf("fe80::1"), "Color_ip_addr");
    EXPECT_EQ(ClassOf("::ffff:192.0.2.1"), "Color_ip_addr") << "an embedded IPv4 tail";
    EXPECT_EQ(ClassOf("2001:DB8::A"), "Color_ip_addr") << "case is folded before the test";
    EXPECT_EQ(ClassOf("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255"), "Color_ip_addr");
    // Hexadecimal letters alone do not make an address: no host name holds a colon, many hold only
    // letters a-f and dots.
    EXPECT_EQ(ClassOf("cafe.de"), "Color_default");
    EXPECT_EQ(ClassOf("face.net"), "Color_net");
    EXPECT_EQ(ClassOf("bad.cafe.com"), "Color_com");
    EXPECT_EQ(ClassOf("deadbeef"), "Color_default");
    // A letter beyond f, a blank, a bracket or a zone suffix is no bare literal.
    EXPECT_EQ(ClassOf("2001:db8::g"), "Color_default");
    EXPECT_EQ(ClassOf("::1 "), "Color_default");
    EXPECT_EQ(ClassOf("[::1]"), "Color_default");
    EXPECT_EQ(ClassOf("(2001:db8::1)"), "Color_default") << "a pending lookup shows in parentheses";
    EXPECT_EQ(ClassOf("fe80::1%eth0"), "Color_default");
}

TEST(ColorSchemeTest, ItemTable) {
    std::set<std::string> keys;
    for (int i = 0; i < ColorScheme::kItemCount; ++i) keys.insert(KeyOf(i));
    EXPECT_EQ(keys.size(), 37u);
    EXPECT_EQ(KeyOf(ColorScheme::kTextBk), "Color_TextBk");
    EXPECT_EQ(KeyOf(ColorScheme::kProtoDl), "Color_proto_dl");
    EXPECT_EQ(KeyOf(ColorScheme::kDefJp), "Color_def_jp");
    EXPECT_EQ(KeyOf(ColorScheme::kCom), "Color_com");
    EXPECT_EQ(KeyOf(ColorScheme::kPost), "Color_post");
    EXPECT_EQ(KeyOf(ColorScheme::kDefault), "Color_default");
    EXPECT_STREQ(ColorScheme::Item(ColorScheme::kCoJp).nameJp, "一般企業(co.jp)");
    EXPECT_STREQ(ColorScheme::Item(ColorScheme::kDefault).nameEn, "Other Domain");
    // 0x00BBGGRR.
    EXPECT_EQ(ColorScheme::Item(ColorScheme::kIpAddr).defaultColour, 0x80FFFFu);
    EXPECT_EQ(ColorScheme::Item(ColorScheme::kDefJp).defaultColour, 0x60AFFFu);
    EXPECT_EQ(ColorScheme::Item(ColorScheme::kNeJp).defaultColour, 0xFF8787u);
}

TEST(ColorSchemeTest, CellColours) {
    ColorScheme s;
    const uint32_t white = 0xFFFFFF, black = 0, yellow = 0x80FFFF, pink = 0xFF80FF, red = 0x4040FF;
    const uint32_t green = 0x80FF80;
    auto text = [&](int col, const char* t) { return s.CellColour(col, t, false, 1, 2).text; };
    EXPECT_EQ(text(0, "192.168.0.1"), yellow);
    EXPECT_EQ(text(1, "192.168.0.1"), yellow);
    EXPECT_EQ(text(4, "www.example.co.jp"), pink);
    EXPECT_EQ(text(3, "mail.example.com"), red);
    EXPECT_EQ(text(4, "plain"), white);
    EXPECT_EQ(text(2, "443"), white);  // Port: digits but no classification
    EXPECT_EQ(text(5, "host.com"), white);
    EXPECT_EQ(text(7, "01m 00s"), white);
    EXPECT_EQ(text(8, "curl(77)"), white);
    EXPECT_EQ(text(6, "Connecting"), green);
    EXPECT_EQ(text(6, "接続中"), green);
    for (const char* other : {"Waiting", "接続待ち", "LISTEN", "TIME WAIT", "CLOSED"}) EXPECT_EQ(text(6, other), red);
    EXPECT_EQ(s.CellColour(4, "x.com", false, 1, 2).background, black);

    const auto hi = s.CellColour(6, "Connecting", true, 0x111111, 0x222222);
    EXPECT_EQ(hi.text, 0x111111u);
    EXPECT_EQ(hi.background, 0x222222u);

    // lg.jp and go.jp share a default but are separate items.
    s.setColour(ColorScheme::kLgJp, 0x123456);
    EXPECT_EQ(text(4, "town.example.lg.jp"), 0x123456u);
    EXPECT_EQ(text(4, "x.go.jp"), pink);
}

class ColorSchemeFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = std::filesystem::temp_directory_path() /
               ("varnel-colours-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini");
        std::filesystem::remove(path);
    }
    void TearDown() override { std::filesystem::remove(path); }
    void Write(const std::string& text) { std::ofstream(path) << text; }

    std::filesystem::path path;
};

TEST_F(ColorSchemeFileTest, EmptyFileGivesDefaultsOrTheConsumersOwn) {
    SettingsFile file(path.string());
    ColorScheme s;
    s.setColour(ColorScheme::kCom, 1);
    s.Load(file);
    EXPECT_EQ(s, ColorScheme());

    s.Load(file, 0x00ABCDEF, 0x00123456);
    EXPECT_EQ(s.colour(ColorScheme::kTextBk), 0x00ABCDEFu);
    EXPECT_EQ(s.colour(ColorScheme::kText), 0x00123456u);
    EXPECT_EQ(s.colour(ColorScheme::kIpAddr), 0x80FFFFu);
}

TEST_F(ColorSchemeFileTest, ReadsSignedDecimalWithoutRangeCheck) {
    Write("[Surveil]\nColor_co_jp=255\nColor_Text=-1\nColor_TextBk=16777215\nColor_com=junk\n"
          "[Session]\nColor_net=7\n");
    SettingsFile file(path.string());
    ColorScheme s;
    s.Load(file, 0, 0);
    EXPECT_EQ(s.colour(ColorScheme::kCoJp), 0x0000FFu);
    EXPECT_EQ(s.colour(ColorScheme::kText), 0xFFFFFFFFu);
    EXPECT_EQ(s.colour(ColorScheme::kTextBk), 0xFFFFFFu);
    EXPECT_EQ(s.colour(ColorScheme::kCom), 0x000000u);  // present but no number: 0, not the default
    EXPECT_EQ(s.colour(ColorScheme::kNet), 0x4040FFu);  // other section ignored
}

TEST_F(ColorSchemeFileTest, SaveWritesEveryKeyAndLoadsBack) {
    SettingsFile file(path.string());
    ColorScheme s;
    s.setColour(ColorScheme::kText, 0xFFFFFFFF);
    s.setColour(ColorScheme::kAsia, 0x00010203);
    s.Save(file);
    EXPECT_EQ(file.ReadString("Surveil", "Color_Text"), "-1");
    EXPECT_EQ(file.ReadString("Surveil", "Color_default"), "16777215");
    for (int i = 0; i < ColorScheme::kItemCount; ++i)
        EXPECT_NE(file.ReadString("Surveil", ColorScheme::Item(i).key, "absent"), "absent") << i;
    ColorScheme back;
    back.Load(file, 5, 5);
    EXPECT_EQ(back, s);
}

}  // namespace
}  // namespace varnel
