#include <gtest/gtest.h>

#include <string>

#include "settings/IniDocument.h"

namespace varnel {
namespace {

std::string Read(const IniDocument& doc, const char* section, const char* key) {
    auto v = doc.Get(section, key);
    return v ? std::string(*v) : std::string("<missing>");
}

TEST(IniDocumentTest, ParsesSectionsKeysCommentsAndBlanks) {
    const std::string text =
        "top=unreachable\n"
        "; comment = not a key\n"
        "  [ Settings ]  trailing junk\n"
        "  Width = 640  \n"
        "# Height=1\n"
        "no equals sign here\n"
        "=no name\n"
        "Empty=\n"
        "Url=http://x/?a=b\n"
        "[Session\n"
        "Open=1\n";
    IniDocument doc = IniDocument::Parse(text);
    EXPECT_EQ(doc.Serialize(), text);
    EXPECT_EQ(Read(doc, "Settings", "Width"), "640");
    EXPECT_EQ(Read(doc, "Settings", "Height"), "<missing>");
    EXPECT_EQ(Read(doc, "Settings", "comment"), "<missing>");
    EXPECT_EQ(Read(doc, "Settings", "no equals sign here"), "<missing>");
    EXPECT_EQ(Read(doc, "Settings", "Empty"), "");
    EXPECT_EQ(Read(doc, "Settings", "Url"), "http://x/?a=b");
    EXPECT_EQ(Read(doc, "Settings", "top"), "<missing>");
    // A header without its ']' still names a section.
    EXPECT_EQ(Read(doc, "Session", "Open"), "1");
    EXPECT_EQ(Read(doc, "Settings", "Open"), "<missing>");
}

TEST(IniDocumentTest, NamesCompareCaseInsensitivelyAndFirstOccurrenceWins) {
    IniDocument doc = IniDocument::Parse(
        "[Session]\nAutoStart=1\nautostart=2\n[Other]\nX=o\n[SESSION]\nAutoStart=3\nLate=4\n");
    EXPECT_EQ(Read(doc, "session", "AUTOSTART"), "1");
    // A key only in the second section of a name is still found.
    EXPECT_EQ(Read(doc, "Session", "Late"), "4");

    ASSERT_TRUE(doc.Set("SESSION", "autoSTART", "9"));
    EXPECT_EQ(doc.Serialize(),
              "[Session]\nAutoStart=9\nautostart=2\n[Other]\nX=o\n[SESSION]\nAutoStart=3\nLate=4\n");
    ASSERT_TRUE(doc.Set("session", "late", "5"));
    EXPECT_EQ(Read(doc, "Session", "Late"), "5");
    EXPECT_EQ(doc.Serialize(),
              "[Session]\nAutoStart=9\nautostart=2\n[Other]\nX=o\n[SESSION]\nAutoStart=3\nLate=5\n");
}

TEST(IniDocumentTest, SetKeepsEverythingElseInPlace) {
    IniDocument doc = IniDocument::Parse(
        "; settings\n"
        "[Settings]\n"
        "  Width = 640 ; old\n"
        "; keep me\n"
        "\n"
        "\n"
        "[Surveil]\n"
        "Color_Text=0\n");
    ASSERT_TRUE(doc.Set("Settings", "Width", "800"));
    ASSERT_TRUE(doc.Set("Settings", "Height", "600"));
    ASSERT_TRUE(doc.Set("Session", "AutoStart", "1"));
    EXPECT_EQ(doc.Serialize(),
              "; settings\n"
              "[Settings]\n"
              "  Width=800\n"
              "; keep me\n"
              "Height=600\n"
              "\n"
              "\n"
              "[Surveil]\n"
              "Color_Text=0\n"
              "\n"
              "[Session]\n"
              "AutoStart=1\n");
}

TEST(IniDocumentTest, NewLinesFollowTheFileAndEndUnterminatedLines) {
    IniDocument empty = IniDocument::Parse("");
    ASSERT_TRUE(empty.Set("Settings", "A", "1"));
    EXPECT_EQ(empty.Serialize(), "[Settings]\nA=1\n");

    const std::string crlf = "[Settings]\r\nA=1\r\nB = two \r\n[Other]\r\nC=3";
    IniDocument doc = IniDocument::Parse(crlf);
    EXPECT_EQ(doc.Serialize(), crlf);
    EXPECT_EQ(Read(doc, "Settings", "B"), "two");
    EXPECT_EQ(Read(doc, "Other", "C"), "3");
    ASSERT_TRUE(doc.Set("Other", "D", "4"));
    ASSERT_TRUE(doc.Set("Settings", "A", "x"));
    EXPECT_EQ(doc.Serialize(), "[Settings]\r\nA=x\r\nB = two \r\n[Other]\r\nC=3\r\nD=4\r\n");

    IniDocument bom = IniDocument::Parse("\xEF\xBB\xBF[Settings]\nA=1");
    EXPECT_EQ(Read(bom, "Settings", "A"), "1");
    ASSERT_TRUE(bom.Set("New", "K", "v"));
    EXPECT_EQ(bom.Serialize(), "\xEF\xBB\xBF[Settings]\nA=1\n\n[New]\nK=v\n");
}

TEST(IniDocumentTest, WrittenValuesCannotStartNewLines) {
    IniDocument doc = IniDocument::Parse("[Session]\nA=1\n");
    ASSERT_TRUE(doc.Set("Session", "A", "x\r\n[Evil]\nB=2\0z"));  // literal stops at the NUL
    ASSERT_TRUE(doc.Set("Session", "C", std::string("p\0q\rr\ns", 7)));
    IniDocument again = IniDocument::Parse(doc.Serialize());
    EXPECT_EQ(Read(again, "Session", "A"), "x  [Evil] B=2");
    EXPECT_EQ(Read(again, "Evil", "B"), "<missing>");
    EXPECT_EQ(Read(again, "Session", "C"), "p q r s");
    EXPECT_EQ(again.LineCount(), 3u);
}

TEST(IniDocumentTest, RejectsNamesThatWouldNotReadBack) {
    IniDocument doc = IniDocument::Parse("[S]\nK=1\n");
    const std::string before = doc.Serialize();
    for (const char* section : {"", "  ", "a]b", "a\nb", "a\rb"}) {
        EXPECT_FALSE(doc.Set(section, "K", "v")) << section;
    }
    for (const char* key : {"", " ", "a=b", "[k", ";k", "#k", "a\nb"}) {
        EXPECT_FALSE(doc.Set("S", key, "v")) << key;
    }
    EXPECT_FALSE(doc.Set("S", std::string("a\0b", 3), "v"));
    EXPECT_EQ(doc.Serialize(), before);
    // Blanks around names are not part of them.
    ASSERT_TRUE(doc.Set("  S ", " K  ", "2"));
    ASSERT_TRUE(doc.Set("S", "a b", "3"));
    EXPECT_EQ(doc.Serialize(), "[S]\nK=2\na b=3\n");
}

TEST(IniDocumentTest, EntriesListReadableKeysInOrder) {
    IniDocument doc = IniDocument::Parse("x=0\n[A]\nk=1\n;c=2\n[B]\nk=3\nk=4\n");
    auto entries = doc.Entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].section, "A");
    EXPECT_EQ(entries[0].value, "1");
    EXPECT_EQ(entries[2].section, "B");
    EXPECT_EQ(entries[2].value, "4");
}

}  // namespace
}  // namespace varnel
