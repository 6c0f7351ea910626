#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "autokill/RuleFileParser.h"

namespace varnel {
namespace {

AutoKillRuleSet ParseText(std::string_view text) {
    AutoKillRuleSet set;
    RuleFileParser::Parse(text, set);
    return set;
}

// The one rule a line makes; fails the test when it makes none.
AutoKillRule OneRule(std::string_view line) {
    AutoKillRule rule;
    EXPECT_TRUE(RuleFileParser::ParseCandidate(line, rule)) << line;
    return rule;
}

TEST(RuleFileParserTest, EmptyAndCommentOnlyFilesGiveNoRules) {
    EXPECT_EQ(ParseText("").count(), 0);
    EXPECT_EQ(ParseText("# a comment\r\n; another\r\n!bang\r\n\r\n\n").count(), 0);
}

TEST(RuleFileParserTest, FirstByteDecidesWhetherALineIsSkipped) {
    struct Case {
        std::string line;
        bool rule;
    };
    const Case cases[] = {
        {"HOST2=x", true},
        {" HOST2=x", true},
        {"\tHOST2=x", false},
        {"#HOST2=x", false},
        {";HOST2=x", false},
        {"!HOST2=x", false},
        {"\rHOST2=x", false},
        {std::string("\x0F"
                     "HOST2=x"),
         false},
        {std::string("\x10"
                     ",HOST2=x"),
         true},
        {"\xE3\x81\x82,HOST2=x", true},
    };
    for (const Case& c : cases) {
        AutoKillRuleSet set = ParseText(c.line + "\n");
        EXPECT_EQ(set.count(), c.rule ? 1 : 0) << "line: " << c.line;
    }
}

TEST(RuleFileParserTest, FieldsAreCleanedAndKeywordsAreCaseSensitive) {
    EXPECT_EQ(OneRule("HOST2 = *.example.com ;").must.host2.text(), ".example.com");
    EXPECT_EQ(OneRule("IP2=192.168.*").must.ip2.text(), "192.168.");
    AutoKillRule rule;
    EXPECT_FALSE(RuleFileParser::ParseCandidate("host2=x", rule));
    EXPECT_FALSE(RuleFileParser::ParseCandidate("Port2=80", rule));
    EXPECT_FALSE(RuleFileParser::ParseCandidate("HOST2 x, PORT2 80", rule));  // no '='
    EXPECT_FALSE(RuleFileParser::ParseCandidate("HOST3=x,=5", rule));
    // The negated keyword is its own key, not HOST2 with a '!' value.
    rule = OneRule("HOST2!=.x");
    EXPECT_EQ(rule.mustNot.host2.text(), ".x");
    EXPECT_FALSE(rule.must.host2.IsSet());
    EXPECT_TRUE(rule.Has(RuleKeyword::kNotHost2));
    EXPECT_FALSE(rule.Has(RuleKeyword::kHost2));
}

TEST(RuleFileParserTest, KeyTextIsRemovedFromTheWholeFieldThenEveryEquals) {
    EXPECT_EQ(OneRule("HOST1=myHOST1box").must.host1.text(), "mybox");
    EXPECT_EQ(OneRule("PID=a=b==c").must.pid.text(), "abc");
    // One left-to-right pass: removing an inner occurrence can leave the key text behind.
    EXPECT_EQ(OneRule("HOST1=xHOSHOST1T1y").must.host1.text(), "xHOST1y");
    // A keyword with an empty value still makes the line a rule (one without conditions).
    AutoKillRule rule = OneRule("IP1=IP1");
    EXPECT_FALSE(rule.must.ip1.IsSet());
    EXPECT_FALSE(rule.HasConditions());
}

TEST(RuleFileParserTest, QuotesKeepCommasAndAreUndone) {
    EXPECT_EQ(OneRule("\"HOST2=a,b\"").must.host2.text(), "a,b");
    EXPECT_EQ(OneRule("\"HOST2=a\"\"b\",PORT2=80").must.host2.text(), "a\"b");
    // Only a quote at the very start and end of the field is dropped, not one after the '='.
    EXPECT_EQ(OneRule("HOST2=\"a\"\"b\"").must.host2.text(), "\"a\"b");
    // An unclosed quote swallows the rest of the line into the field.
    AutoKillRule rule = OneRule("HOST2=\"a,PORT2=80");
    EXPECT_EQ(rule.must.host2.text(), "\"a,PORT280");
    EXPECT_FALSE(rule.must.port2.IsSet());

    std::vector<std::string> fields;
    RuleFileParser::SplitFields("a,\"b,c\",,\"d\"\"e\"", fields);
    EXPECT_EQ(fields, (std::vector<std::string>{"a", "b,c", "", "d\"e"}));
}

TEST(RuleFileParserTest, LaterFieldWins) {
    AutoKillRule rule = OneRule("PORT2=80,HOST2=.a,PORT2=90,HOST2=.b");
    EXPECT_EQ(rule.must.port2, (PortRange{90, 90}));
    EXPECT_EQ(rule.must.host2.text(), ".b");
}

TEST(RuleFileParserTest, PortRanges) {
    struct Case {
        const char* value;
        uint16_t low, high;
    };
    const Case cases[] = {
        {"80", 80, 80},     {"0", 1, 65535},       {"-80", 1, 65535},   {"0-80", 1, 65535},
        {"80-", 80, 65535}, {"80-0", 80, 65535},   {"90-80", 90, 90},   {"80-90", 80, 90},
        {"80--90", 80, 90}, {"70000", 4464, 4464}, {"65536", 1, 65535}, {"http", 1, 65535},
        {"", 1, 65535},     {"+443", 443, 443},    {"1-2-3", 1, 23},    {"80x", 80, 80},
    };
    for (const Case& c : cases) {
        PortRange r = RuleFileParser::ReadPortRange(c.value, "PORT2");
        EXPECT_EQ(r, (PortRange{c.low, c.high})) << "PORT2=" << c.value;
        EXPECT_EQ(OneRule(std::string("PORT1!=") + c.value).mustNot.port1, r);
    }
}

TEST(RuleFileParserTest, HourWindows) {
    struct Case {
        const char* value;
        uint16_t from, to;  // 24,24 = not set
    };
    const Case cases[] = {
        {"9-17", 9, 17},  {"22-6", 22, 22}, {"0", 0, 0},  {"23", 23, 23},  {"24", 24, 24}, {"9-", 9, 9},
        {"5-30", 24, 24}, {"30-5", 24, 24}, {"-5", 0, 5}, {"65545", 9, 9}, {"x", 0, 0},
    };
    for (const Case& c : cases) {
        HourWindow w = RuleFileParser::ReadHourWindow(c.value, "SYSTIME");
        EXPECT_EQ(w, (HourWindow{c.from, c.to})) << "SYSTIME=" << c.value;
        EXPECT_EQ(w.IsSet(), c.from < 24) << "SYSTIME=" << c.value;
    }
    EXPECT_EQ(OneRule("SYSTIME!=22-6").mustNot.sysTime, (HourWindow{22, 22}));
}

TEST(RuleFileParserTest, NumbersFlagsStateAndTime) {
    struct Case {
        const char* line;
        uint16_t allow, noLog, stat;
        uint32_t time;
    };
    const Case cases[] = {
        {"ALLOW=1", 1, 0, 0, 0},         {"ALLOW=yes", 0, 0, 0, 0},  {"ALLOW=2", 1, 0, 0, 0},
        {"ALLOW=65536", 0, 0, 0, 0},     {"ALLOW=-1", 1, 0, 0, 0},   {"NOLOG=1", 0, 1, 0, 0},
        {"STAT=4", 0, 0, 4, 0},          {"STAT=65537", 0, 0, 1, 0}, {"STAT=-1", 0, 0, 65535, 0},
        {"TIME=60", 0, 0, 0, 60},        {"TIME=60s", 0, 0, 0, 60},  {"TIME=-1", 0, 0, 0, 4294967295u},
        {"TIME=4294967296", 0, 0, 0, 0}, {"TIME=+7", 0, 0, 0, 7},    {"TIME=s60", 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        AutoKillRule r = OneRule(c.line);
        EXPECT_EQ(r.allow, c.allow) << c.line;
        EXPECT_EQ(r.noLog, c.noLog) << c.line;
        EXPECT_EQ(r.must.stat, c.stat) << c.line;
        EXPECT_EQ(r.must.time, c.time) << c.line;
    }
    AutoKillRule negated = OneRule("STAT!=2,TIME!=30");
    EXPECT_EQ(negated.mustNot.stat, 2);
    EXPECT_EQ(negated.mustNot.time, 30u);
    EXPECT_EQ(negated.must.stat, 0);
}

TEST(RuleFileParserTest, PatternsAreStoredReadyToCompare) {
    RulePattern containment("/exa/mple/");
    EXPECT_TRUE(containment.containment());
    EXPECT_EQ(containment.needle(), "example");
    EXPECT_TRUE(containment.MatchesHost("www.examples.org", "1.2.3.4"));
    EXPECT_TRUE(containment.MatchesPrefix("my-example"));
    RulePattern suffix(".example.com");
    EXPECT_FALSE(suffix.containment());
    EXPECT_TRUE(suffix.MatchesHost("shop.example.com", "1.2.3.4"));
    EXPECT_FALSE(suffix.MatchesHost("shop.example.com.evil", "1.2.3.4"));
    EXPECT_FALSE(suffix.MatchesPrefix("shop.example.com"));
    RulePattern unnamed("????");
    EXPECT_TRUE(unnamed.unnamedHost());
    EXPECT_TRUE(unnamed.MatchesHost("1.2.3.4", "1.2.3.4"));
    EXPECT_FALSE(unnamed.MatchesHost("host", "1.2.3.4"));
    EXPECT_TRUE(unnamed.MatchesHost("odd????", "1.2.3.4"));
    EXPECT_FALSE(RulePattern(std::string("/????") + "/").unnamedHost());
}

TEST(RuleFileParserTest, RuleLessLinesTakeNoSlotAndLineNumbersArePhysical) {
    AutoKillRuleSet set = ParseText(
        "# header\r\n"
        "     \r\n"
        "just some words\r\n"
        "HOST2=.a.com\r\n"
        "\r\n"
        "NOLOG=1\r\n"
        "PORT2=80,HOST2=.example.com");  // no final line break
    ASSERT_EQ(set.count(), 3);
    EXPECT_EQ(set.rule(0).must.host2.text(), ".a.com");
    EXPECT_EQ(set.rule(0).lineNumber, 4);
    EXPECT_FALSE(set.rule(1).HasConditions());
    EXPECT_EQ(set.rule(1).noLog, 1);
    EXPECT_EQ(set.rule(1).lineNumber, 6);
    EXPECT_EQ(set.rule(2).must.port2, (PortRange{80, 80}));
    EXPECT_EQ(set.rule(2).must.host2.text(), ".example.com");
    EXPECT_EQ(set.rule(2).lineNumber, 7);
}

TEST(RuleFileParserTest, ReadsAtMost1023CandidatesCountingRuleLessOnes) {
    std::string text = "# comments do not count\n";
    for (int i = 1; i <= 1100; ++i) text += "PORT2=" + std::to_string(i) + "\n";
    AutoKillRuleSet set;
    EXPECT_EQ(RuleFileParser::Parse(text, set), 1023);
    ASSERT_EQ(set.count(), 1023);
    EXPECT_EQ(set.rule(1022).must.port2.low, 1023);

    std::string withJunk = "no keyword here\n" + text;
    EXPECT_EQ(RuleFileParser::Parse(withJunk, set), 1023);
    ASSERT_EQ(set.count(), 1022);
    EXPECT_EQ(set.rule(1021).must.port2.low, 1022);
}

TEST(RuleFileParserTest, LongLinesContinueAsFurtherCandidatesOfTheSameLine) {
    const size_t limit = RuleLineReader::kMaxReadBytes;  // 65,533 bytes, line feed included
    // 65,532 bytes and a line feed fit one read: one rule with the whole pattern.
    std::string fits = "HOST2=" + std::string(limit - 1 - 6, 'a');
    AutoKillRuleSet set = ParseText(fits + "\nPORT2=1\n");
    ASSERT_EQ(set.count(), 2);
    EXPECT_EQ(set.rule(0).must.host2.text().size(), limit - 1 - 6);
    EXPECT_EQ(set.rule(1).lineNumber, 2);
    // The same with CR LF: the CR does not count.
    set = ParseText(fits + "\r\nPORT2=1\r\n");
    ASSERT_EQ(set.count(), 2);
    EXPECT_EQ(set.rule(0).must.host2.text().size(), limit - 1 - 6);

    // One byte more: the line feed is read alone (and skipped as an empty line).
    set = ParseText(fits + "b\nPORT2=1\n");
    ASSERT_EQ(set.count(), 2);
    EXPECT_EQ(set.rule(0).must.host2.text().back(), 'b');
    EXPECT_EQ(set.rule(1).lineNumber, 2);

    // A field cut at the limit: the rest is a further candidate carrying the same line number.
    std::string longLine = "HOST2=" + std::string(limit - 6, 'a') + ",PORT2=80";
    set = ParseText(longLine + "\nPORT2=1\n");
    ASSERT_EQ(set.count(), 3);
    EXPECT_EQ(set.rule(0).must.host2.text().size(), limit - 6);
    EXPECT_FALSE(set.rule(0).must.port2.IsSet());
    EXPECT_EQ(set.rule(1).must.port2, (PortRange{80, 80}));
    EXPECT_EQ(set.rule(1).lineNumber, 1);
    EXPECT_EQ(set.rule(2).lineNumber, 2);
}

TEST(RuleFileParserTest, NulEndsTheTextOfARead) {
    using namespace std::string_literals;
    const std::string text = "HOST2=ab\0cd,PORT2=80\n\0PORT2=1\nPORT2=2"s;
    AutoKillRuleSet set = ParseText(text);
    ASSERT_EQ(set.count(), 2);
    EXPECT_EQ(set.rule(0).must.host2.text(), "ab");
    EXPECT_FALSE(set.rule(0).must.port2.IsSet());
    EXPECT_EQ(set.rule(1).must.port2.low, 2);
    EXPECT_EQ(set.rule(1).lineNumber, 3);
}

TEST(RuleFileParserTest, StreamAndMemoryReadsAgreeAcrossBlockBoundaries) {
    // Lines of many lengths, some longer than one read, so that stream refills fall everywhere.
    std::string text;
    for (int i = 0; i < 300; ++i) {
        text += (i % 7 == 0 ? "# c\r\n" : "");
        text += "HOST2=." + std::string(static_cast<size_t>((i * 7919) % 70000), 'x') +
                ",PORT2=" + std::to_string(i);
        text += (i % 2 != 0 ? "\r\n" : "\n");
    }
    AutoKillRuleSet fromText;
    AutoKillRuleSet fromStream;
    std::istringstream in(text);
    const int candidates = RuleFileParser::Parse(text, fromText);
    EXPECT_EQ(RuleFileParser::Parse(in, fromStream), candidates);
    EXPECT_GT(candidates, 300);
    ASSERT_EQ(fromText.count(), fromStream.count());
    for (int i = 0; i < fromText.count(); ++i) {
        EXPECT_TRUE(fromText.rule(i).SameFields(fromStream.rule(i))) << i;
        EXPECT_EQ(fromText.rule(i).lineNumber, fromStream.rule(i).lineNumber) << i;
    }
}

TEST(RuleFileParserTest, MissingFileGivesAnEmptySet) {
    AutoKillRuleSet set = ParseText("PORT2=80\n");
    ASSERT_EQ(set.count(), 1);
    EXPECT_EQ(RuleFileParser::LoadFile("/nonexistent/dir/varnel_autoblock.txt", set), 0);
    EXPECT_EQ(set.count(), 0);
    EXPECT_FALSE(set.rule(0).must.port2.IsSet());  // slots are back at their defaults
}

}  // namespace
}  // namespace varnel
