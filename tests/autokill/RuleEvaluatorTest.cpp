#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "autokill/AgeText.h"
#include "autokill/RuleEvaluator.h"
#include "autokill/RuleFileParser.h"

namespace varnel {
namespace {

// A row with plausible texts; tests change the columns they are about.
RowTexts Row() {
    RowTexts r;
    r.localAddress = "192.168.1.5";
    r.localHost = "desk.lan";
    r.localPort = "50123";
    r.remoteAddress = "93.184.216.34";
    r.remoteHost = "shop.example.com";
    r.remotePort = "80";
    r.status = "Connecting";
    r.time = "05s";
    r.process = "firefox-esr(4242)";
    return r;
}

Verdict Eval(std::string_view rules, const RowTexts& row, int hour = 12, const char* lang = "EN") {
    AutoKillRuleSet set;
    RuleFileParser::Parse(rules, set);
    RuleEvaluator evaluator(set, UiLanguage(lang));
    return evaluator.Evaluate(row, hour);
}

bool Kills(std::string_view rules, const RowTexts& row, int hour = 12, const char* lang = "EN") {
    return Eval(rules, row, hour, lang).verdict != Verdict::kLeave;
}

constexpr Verdict kLeave{Verdict::kLeave, 0};

TEST(RuleEvaluatorTest, EmptyRuleSetKillsNothing) {
    EXPECT_EQ(Eval("# nothing\n", Row()), kLeave);
}

TEST(RuleEvaluatorTest, RuleWithoutConditionsMatchesEveryRow) {
    EXPECT_EQ(Eval("NOLOG=1\n", Row()), (Verdict{Verdict::kKillQuietly, 1}));
    RowTexts other = Row();
    other.remoteHost = "93.184.216.34";
    other.status = "Waiting";
    EXPECT_EQ(Eval("NOLOG=1\n", other), (Verdict{Verdict::kKillQuietly, 1}));
}

TEST(RuleEvaluatorTest, FirstMatchWinsAndAllowExempts) {
    const char* rules = "ALLOW=1,HOST2=.example.com\nPORT2=80\nNOLOG=1\n";
    EXPECT_EQ(Eval(rules, Row()), (Verdict{Verdict::kLeave, 1}));
    RowTexts other = Row();
    other.remoteHost = "tracker.net";
    EXPECT_EQ(Eval(rules, other), (Verdict{Verdict::kKillAndLog, 2}));
    other.remotePort = "443";
    EXPECT_EQ(Eval(rules, other), (Verdict{Verdict::kKillQuietly, 3}));
}

TEST(RuleEvaluatorTest, APendingHostHoldsBackOnlyRulesThatCouldDependOnIt) {
    constexpr Verdict kHeld{Verdict::kLeave, 0, true};
    RowTexts row = Row();
    row.remoteHost = "(93.184.216.34)";
    // Rules that test no host name decide at once.
    EXPECT_EQ(Eval("PORT2=80\n", row), (Verdict{Verdict::kKillAndLog, 1}));
    EXPECT_EQ(Eval("ALLOW=1,PORT2=80\nNOLOG=1\n", row), (Verdict{Verdict::kLeave, 1}));
    // The matching rule tests the pending host: held (a negated host test as much as a plain one).
    EXPECT_EQ(Eval("HOST2!=.example.com,PORT2=80\n", row), kHeld);
    // An earlier rule tests it and fails on the pending text; once the name is known it might
    // exempt the row, so the later match waits too.
    EXPECT_EQ(Eval("ALLOW=1,HOST2=.example.com\nPORT2=80\n", row), kHeld);
    // A host rule after the match changes nothing; a test of the other side's host neither.
    EXPECT_EQ(Eval("PORT2=80\nALLOW=1,HOST2=.example.com\n", row), (Verdict{Verdict::kKillAndLog, 1}));
    EXPECT_EQ(Eval("ALLOW=1,HOST1=.lan,PORT1=1\nNOLOG=1\n", row), (Verdict{Verdict::kKillQuietly, 2}));

    row = Row();
    row.localHost = "(192.168.1.5)";
    EXPECT_EQ(Eval("HOST1=.lan\nNOLOG=1\n", row), kHeld);
    EXPECT_EQ(Eval("HOST2=.example.com,NOLOG=1\n", row), (Verdict{Verdict::kKillQuietly, 1}));
    row.localHost = "192.168.1.5";  // resolved to "no name": a name like any other
    EXPECT_EQ(Eval("HOST1=????\nNOLOG=1\n", row), (Verdict{Verdict::kKillAndLog, 1}));
    // A name the peer chose that holds parentheses is no pending lookup.
    row = Row();
    row.remoteHost = "(evil).example.com";
    EXPECT_EQ(Eval("HOST2=.example.com\n", row), (Verdict{Verdict::kKillAndLog, 1}));
}

TEST(RuleEvaluatorTest, HostPatterns) {
    RowTexts bad = Row();
    bad.remoteHost = "badexample.com";
    EXPECT_TRUE(Kills("HOST2=example.com\n", bad));  // a suffix, not a domain
    EXPECT_FALSE(Kills("HOST2=.example.com\n", bad));
    RowTexts contains = Row();
    contains.remoteHost = "cdn.examples.org";
    EXPECT_TRUE(Kills("HOST2=/example/\n", contains));
    EXPECT_FALSE(Kills("HOST2=example\n", contains));
    EXPECT_TRUE(Kills("HOST1=.lan\n", Row()));
    EXPECT_FALSE(Kills("HOST1!=.lan\n", Row()));
    EXPECT_TRUE(Kills("HOST1!=.example.com\n", Row()));
}

// A name's case is the answering server's choice: host patterns fold ASCII letters, the
// addresses and the process column stay byte-exact.
TEST(RuleEvaluatorTest, HostPatternsIgnoreCaseAddressesAndProcessesDoNot) {
    struct Case {
        const char* rules;
        const char* remoteHost;  // the local host is its upper-case form
        bool kills;
    };
    const Case cases[] = {
        {"HOST2=.example.com", "Evil.Example.COM", true},
        {"HOST2=.EXAMPLE.COM", "shop.example.com", true},
        {"HOST2!=.example.com", "Evil.Example.COM", false},
        {"HOST1=.Lan", "x", true},
        {"HOST2=.exämple.com", "shop.EXÄMPLE.com", false},  // only ASCII letters fold
        {"IP2=93.184.216.3,HOST2=.Com", "a.cOm", true},
        {"PID=FireFox", "a", false},
    };
    for (const Case& c : cases) {
        RowTexts row = Row();
        row.remoteHost = c.remoteHost;
        row.localHost = "DESK.LAN";
        EXPECT_EQ(Kills(std::string(c.rules) + "\n", row), c.kills) << c.rules << " on " << c.remoteHost;
    }
    // "????": the host text is the address, whatever the case an IPv6 text is given in.
    RowTexts v6 = Row();
    v6.remoteAddress = "2001:db8::ab";
    v6.remoteHost = "2001:DB8::AB";
    EXPECT_TRUE(Kills("HOST2=????\n", v6));
    EXPECT_FALSE(Kills("HOST2!=????\n", v6));
    EXPECT_FALSE(Kills("IP2=2001:DB8::\n", v6));
}

TEST(RuleEvaluatorTest, UnnamedHostPattern) {
    RowTexts unnamed = Row();
    unnamed.remoteHost = unnamed.remoteAddress;
    EXPECT_TRUE(Kills("HOST2=????\n", unnamed));
    EXPECT_FALSE(Kills("HOST2=????\n", Row()));
    EXPECT_FALSE(Kills("HOST2!=????\n", unnamed));
    EXPECT_TRUE(Kills("HOST2!=????\n", Row()));
    // With name resolution off every host text is its address: "????" matches all, suffixes
    // are tested against the address.
    RowTexts off = Row();
    off.localHost = off.localAddress;
    off.remoteHost = off.remoteAddress;
    EXPECT_TRUE(Kills("HOST1=????,HOST2=????\n", off));
    EXPECT_TRUE(Kills("HOST2=.216.34\n", off));
}

TEST(RuleEvaluatorTest, AddressAndProcessPrefixes) {
    RowTexts row = Row();
    row.remoteAddress = "192.168.1.10";
    EXPECT_TRUE(Kills("IP2=192.168.1.1\n", row));  // also a prefix of .10
    EXPECT_FALSE(Kills("IP2=168.1.\n", row));
    EXPECT_TRUE(Kills("IP2=/168.1./\n", row));
    EXPECT_FALSE(Kills("IP2!=192.168.\n", row));
    EXPECT_TRUE(Kills("IP1=192.168.1.5,IP1!=10.\n", row));
    EXPECT_FALSE(Kills("IP1!=/1.5/\n", row));

    EXPECT_TRUE(Kills("PID=firefox\n", Row()));
    EXPECT_TRUE(Kills("PID=firefox\n", Row(), 12, "JP"));
    EXPECT_FALSE(Kills("PID=(4242)\n", Row()));
    EXPECT_TRUE(Kills("PID=/(4242)/\n", Row()));
    EXPECT_FALSE(Kills("PID!=fire\n", Row()));
    RowTexts spaced = Row();
    spaced.process = "My Tool.exe (77)";
    EXPECT_TRUE(Kills("PID=MyTool.exe(77)\n", spaced));  // spaces in the column are ignored
    RowTexts noOwner = Row();
    noOwner.process = "";
    EXPECT_FALSE(Kills("PID=firefox\n", noOwner));
    EXPECT_TRUE(Kills("PID!=firefox\n", noOwner));
}

TEST(RuleEvaluatorTest, PortRanges) {
    struct Case {
        const char* port;
        bool inRange;
    };
    for (Case c :
         {Case{"79", false}, Case{"80", true}, Case{"90", true}, Case{"91", false}, Case{"", false}}) {
        RowTexts row = Row();
        row.remotePort = c.port;
        row.localPort = c.port;
        EXPECT_EQ(Kills("PORT2=80-90\n", row), c.inRange) << c.port;
        EXPECT_EQ(Kills("PORT2!=80-90\n", row), !c.inRange) << c.port;
        EXPECT_EQ(Kills("PORT1=80-90\n", row), c.inRange) << c.port;
        EXPECT_EQ(Kills("PORT1!=80-90\n", row), !c.inRange) << c.port;
    }
    EXPECT_TRUE(Kills("PORT2=0\n", Row()));  // any port
    EXPECT_FALSE(Kills("PORT2!=0\n", Row()));
}

TEST(RuleEvaluatorTest, StateByLanguage) {
    RowTexts waiting = Row();
    waiting.status = "Waiting";
    EXPECT_TRUE(Kills("STAT=1\n", Row()));
    EXPECT_FALSE(Kills("STAT=1\n", waiting));
    EXPECT_TRUE(Kills("STAT=2\n", waiting));
    EXPECT_TRUE(Kills("STAT=4\n", Row()));  // modulo 3
    EXPECT_TRUE(Kills("STAT=3\n", waiting));
    EXPECT_TRUE(Kills("STAT=3\n", Row()));

    RowTexts jp = Row();
    jp.status = "接続中";
    EXPECT_TRUE(Kills("STAT=1\n", jp, 12, "JP"));
    EXPECT_FALSE(Kills("STAT=1\n", jp, 12, "EN"));
    EXPECT_FALSE(Kills("STAT=1\n", Row(), 12, "JP"));
    jp.status = "接続待ち";
    EXPECT_TRUE(Kills("STAT=2\n", jp, 12, "JP"));
    EXPECT_FALSE(Kills("STAT=1\n", jp, 12, "JP"));
}

TEST(RuleEvaluatorTest, NegatedStateAndTimeHaveTheOppositeMeaning) {
    RowTexts waiting = Row();
    waiting.status = "Waiting";
    EXPECT_FALSE(Kills("STAT!=1\n", Row()));
    EXPECT_TRUE(Kills("STAT!=1\n", waiting));
    EXPECT_FALSE(Kills("STAT!=3\n", Row()));  // every state has the empty name
    EXPECT_FALSE(Kills("STAT!=3\n", waiting));

    RowTexts young = Row();
    young.time = "59s";
    RowTexts old = Row();
    old.time = "01m 00s";
    EXPECT_TRUE(Kills("TIME!=60\n", young));
    EXPECT_FALSE(Kills("TIME!=60\n", old));
    EXPECT_FALSE(Kills("TIME=30,TIME!=60\n", old));
    young.time = "45s";
    EXPECT_TRUE(Kills("TIME=30,TIME!=60\n", young));
    young.time = "29s";
    EXPECT_FALSE(Kills("TIME=30,TIME!=60\n", young));
}

TEST(RuleEvaluatorTest, AgeThresholdInBothLanguages) {
    struct Case {
        const char* time;
        const char* lang;
        bool old;
    };
    const Case cases[] = {
        {"59s", "EN", false},
        {"01m 00s", "EN", true},
        {"1h 00m 00s", "EN", true},
        {"00m 59s", "EN", false},
        {"59秒", "JP", false},
        {"01分 00秒", "JP", true},
        {"2時間 00分 00秒", "JP", true},
        {"", "EN", false},
    };
    for (const Case& c : cases) {
        RowTexts row = Row();
        row.time = c.time;
        EXPECT_EQ(Kills("TIME=60\n", row, 12, c.lang), c.old) << c.time;
    }
}

TEST(RuleEvaluatorTest, AgeTexts) {
    const UiLanguage en = UiLanguage::English();
    const UiLanguage jp = UiLanguage::Japanese();
    EXPECT_EQ(ParseAgeText("07s", en), 7);
    EXPECT_EQ(ParseAgeText("12m 07s", en), 727);
    EXPECT_EQ(ParseAgeText("100h 00m 01s", en), 360001);
    EXPECT_EQ(ParseAgeText("3h 4", en), 3 * 3600 + 4 * 60);  // parts not read count 0
    EXPECT_EQ(ParseAgeText("05秒", jp), 5);
    EXPECT_EQ(ParseAgeText("02分 03秒", jp), 123);
    EXPECT_EQ(ParseAgeText("1時間 02分 03秒", jp), 3723);
    // The language picks the form: an English text under JP reads the seconds form only.
    EXPECT_EQ(ParseAgeText("01m 00s", jp), 1);
    EXPECT_EQ(ParseAgeText("garbage", en), 0);
    int64_t v[3];
    EXPECT_EQ(ScanDecimals("123m", "%02dm", v, 3), 1);
    EXPECT_EQ(v[0], 12);  // a width of 2 stops the number
}

TEST(RuleEvaluatorTest, HourWindowIncludesBothBounds) {
    for (int hour = 0; hour < 24; ++hour) {
        const bool inside = hour >= 9 && hour <= 17;
        EXPECT_EQ(Kills("SYSTIME=9-17\n", Row(), hour), inside) << hour;
        EXPECT_EQ(Kills("SYSTIME!=9-17\n", Row(), hour), !inside) << hour;
    }
    EXPECT_TRUE(Kills("SYSTIME=0\n", Row(), 0));
    EXPECT_FALSE(Kills("SYSTIME=0\n", Row(), 1));
    EXPECT_TRUE(Kills("SYSTIME=24\n", Row(), 5));  // no window: not a condition
    EXPECT_TRUE(Kills("SYSTIME!=24\n", Row(), 5));
    EXPECT_TRUE(Kills("SYSTIME=22-6\n", Row(), 22));  // became 22-22
    EXPECT_FALSE(Kills("SYSTIME=22-6\n", Row(), 3));
}

TEST(RuleEvaluatorTest, EveryConditionOfARuleMustHold) {
    const char* rule = "HOST2=.example.com,PORT2=80,IP1=192.168.,STAT=1,PID=firefox\n";
    EXPECT_TRUE(Kills(rule, Row()));
    RowTexts r = Row();
    r.remotePort = "81";
    EXPECT_FALSE(Kills(rule, r));
    r = Row();
    r.localAddress = "10.0.0.1";
    EXPECT_FALSE(Kills(rule, r));
    r = Row();
    r.process = "curl(1)";
    EXPECT_FALSE(Kills(rule, r));
}

TEST(RuleEvaluatorTest, KeepsItsOwnCopyOfTheRules) {
    auto set = std::make_unique<AutoKillRuleSet>();
    RuleFileParser::Parse("HOST2=.example.com,NOLOG=1\n", *set);
    RuleEvaluator evaluator(*set, UiLanguage::English());
    set.reset();
    EXPECT_EQ(evaluator.Evaluate(Row(), 3), (Verdict{Verdict::kKillQuietly, 1}));

    AutoKillRuleSet other;
    RuleFileParser::Parse("PORT2=443\n", other);
    evaluator.Rebuild(other, UiLanguage::English());
    EXPECT_EQ(evaluator.Evaluate(Row(), 3), kLeave);
}

TEST(RuleEvaluatorTest, SharedTestsKeepTheirSenseAndDoNotCarryOverBetweenRows) {
    // Both rules test the same host suffix, one negated; one evaluator sees rows one after another.
    AutoKillRuleSet set;
    RuleFileParser::Parse("HOST2!=.example.com,PORT2=80,NOLOG=1\nHOST2=.example.com,PORT2=80\n", set);
    RuleEvaluator evaluator(set, UiLanguage::English());
    RowTexts other = Row();
    other.remoteHost = "tracker.net";
    RowTexts otherPort = other;
    otherPort.remotePort = "443";
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(evaluator.Evaluate(Row(), 12), (Verdict{Verdict::kKillAndLog, 2}));
        EXPECT_EQ(evaluator.Evaluate(other, 12), (Verdict{Verdict::kKillQuietly, 1}));
        EXPECT_EQ(evaluator.Evaluate(otherPort, 12), kLeave);
    }
}

TEST(RuleEvaluatorTest, FromColumnsTakesColumnOrder) {
    const char* const columns[9] = {"1.1.1.1", "a.lan",   "1000", "2.2.2.2", "b.net",
                                    "22",      "Waiting", "05s",  nullptr};
    RowTexts row = RowTexts::FromColumns(columns);
    EXPECT_EQ(row.remoteHost, "b.net");
    EXPECT_EQ(row.remotePort, "22");
    EXPECT_EQ(row.process, "");
    EXPECT_TRUE(Kills("HOST2=.net,PORT2=22,IP1=1.1.,STAT=2,PORT1=1000\n", row));
}

}  // namespace
}  // namespace varnel
