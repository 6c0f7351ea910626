#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "autokill/RuleEvaluator.h"
#include "autokill/RuleFileParser.h"
#include "autokill/RuleIndex.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"
#include "session/DottedAddress.h"
#include "session/SessionRow.h"

namespace varnel {
namespace {

// Names 93.184.0.x and 2001:db8::x after x (93.184.0.22 in mixed case, as a name server may
// answer); other addresses have no name, 198.51.100.x and fd00::x are still being looked up.
class Hosts : public HostNameSource {
  public:
    int lookups = 0;
    void LookupHostName(const char* address, char* out, size_t n) override {
        ++lookups;
        if (std::strcmp(address, "93.184.0.22") == 0)
            std::snprintf(out, n, "H22.Ads.EXAMPLE.Com");
        else if (std::strncmp(address, "93.184.0.", 9) == 0)
            std::snprintf(out, n, "h%s.ads.example.com", address + 9);
        else if (std::strncmp(address, "198.51.100.", 11) == 0 || std::strncmp(address, "fd00::", 6) == 0)
            std::snprintf(out, n, "(%s)", address);
        else if (std::strncmp(address, "2001:db8::", 10) == 0)
            std::snprintf(out, n, "v6-%s.example.net", address + 10);
        else
            std::snprintf(out, n, "%s", address);
    }
};

struct Rig {
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    Hosts hosts;
    ProcessNameCache names{processes};
    ConnectionSnapshot snapshot{table, names, clock};
    SessionTable session;
    UiLanguage lang = UiLanguage::English();

    Rig() {
        processes.processes = {{10, "fire fox"}, {11, "curl"}, {12, "sshd"}};
        snapshot.SetHostNameSource(&hosts);
    }
    // `count` connections from two local addresses to five remotes (one of them never named, one
    // named with a parenthesis), on spread ports, every `synEvery`-th one being opened, of the
    // others every fourth half-closed, polled twice 90 s apart so that ages differ.
    void AddMixed(int count, int synEvery) {
        const char* remotes[] = {"93.184.0.1", "93.184.0.22", "198.51.100.4", "203.0.113.9", "10.1.2.3"};
        for (int i = 0; i < count; ++i)
            table.Add(i % synEvery == 0 ? kTcpSynSent
                      : i % 4 == 1      ? kTcpFinWait1 + static_cast<uint32_t>(i / 4 % 3)
                                        : kTcpEstablished,
                      i % 2 ? "192.168.1.5" : "10.0.0.7", 40000 + i, remotes[i % 5],
                      i % 3 == 0 ? 443 : 80 + i % 50, 10 + i % 3);
        Poll();
        clock.Advance(90'000);
        Poll();
    }
    // `count` IPv6 connections beside them, to remotes named, unnamed and still being looked up.
    void AddIpv6(int count) {
        const char* remotes[] = {"2001:db8::5", "2001:db8::1:0:0:9", "fd00::4", "::1", "2001:db80::7"};
        for (int i = 0; i < count; ++i)
            table.Add(i % 7 == 0 ? kTcpSynSent : kTcpEstablished, i % 2 ? "2001:db8::1" : "fe80::1",
                      30000 + i, remotes[i % 5], i % 3 == 0 ? 443 : 80 + i % 50, 10 + i % 3);
    }
    void Poll() {
        std::memset(static_cast<void*>(session.current.data()), 0, sizeof session.current);
        snapshot.TakeSnapshot(session);
    }
    // The verdict the kill pass would reach for kept connection k.
    Verdict Evaluate(RuleEvaluator& evaluator, const KeptConnection& k) {
        SessionRecord r;
        SessionRow row;
        snapshot.FillRecord(k, r);
        r.state = static_cast<int32_t>(JudgedState(k.state));  // as SessionMonitor::BuildKeptRow
        BuildSessionRow(r, clock.TickMs(), true, lang, row);
        const char* texts[kColumnCount];
        for (int c = 0; c < kColumnCount; ++c) texts[c] = row[c];
        return evaluator.Evaluate(RowTexts::FromColumns(texts), clock.LocalTime().tm_hour);
    }
};

// One to four rules of one to three fields each, drawn from conditions that meet the rig's
// connections in many ways, negations, ALLOW and NOLOG included.
std::string RandomRules(std::mt19937& rng) {
    auto pick = [&](std::initializer_list<const char*> options) {
        return std::string(*(options.begin() + rng() % options.size()));
    };
    std::string text;
    const int rules = 1 + static_cast<int>(rng() % 4);
    for (int r = 0; r < rules; ++r) {
        std::string rule;
        const int fields = 1 + static_cast<int>(rng() % 3);
        for (int f = 0; f < fields; ++f) {
            if (!rule.empty()) rule += ',';
            rule += pick({"PORT2=443",
                          "PORT2=100-120",
                          "PORT1=40010-40020",
                          "IP2=93.184.",
                          "IP2=/113/",
                          "IP1=10.",
                          "PID=firefox",
                          "PID=cu",
                          "HOST2=.example.com",
                          "HOST2=h1.ads.example.com",
                          "HOST2=.ads.example.com",
                          "IP2=203.0.113.9",
                          "HOST2=/ads/",
                          "PID=/ir/",
                          "PORT2=80-90",
                          "HOST2=????",
                          "HOST2=.ADS.example.com",
                          "HOST2=/Ads.E/",
                          "HOST2!=.Example.COM",
                          "HOST1=.lan",
                          "STAT=1",
                          "STAT=2",
                          "TIME=60",
                          "TIME=100",
                          "SYSTIME=23",
                          "PORT2!=443",
                          "IP2!=93.",
                          "HOST2!=.com",
                          "ALLOW=1",
                          "NOLOG=1"});
        }
        text += rule + "\n";
    }
    return text;
}

// Whatever the rules, a connection the evaluator would cut is never passed over by the index.
TEST(RuleIndexTest, NeverPassesOverAConnectionARuleWouldCut) {
    std::mt19937 rng(20261208);
    Rig rig;
    rig.AddMixed(300, 9);

    int cut = 0, rejected = 0;
    for (int round = 0; round < 300; ++round) {
        const std::string text = RandomRules(rng);
        AutoKillRuleSet set;
        RuleFileParser::Parse(text, set);
        RuleEvaluator evaluator(set, rig.lang);
        RuleIndex index;
        index.Rebuild(set, rig.lang);
        index.BeginPass(rig.clock.TickMs(), rig.clock.LocalTime().tm_hour);
        for (const KeptConnection& k : rig.snapshot.kept()) {
            const bool kills = rig.Evaluate(evaluator, k).verdict != Verdict::kLeave;
            const bool candidate = index.CouldCut(k, rig.snapshot);
            if (kills) {
                ++cut;
                ASSERT_TRUE(candidate) << text << "port " << k.key.localPort;
            } else if (!candidate) {
                ++rejected;
            }
        }
    }
    EXPECT_GT(cut, 1000);
    EXPECT_GT(rejected, 1000) << "the index should pass over most connections of selective rules";
}

TEST(RuleIndexTest, SelectiveRulesTouchNoTextOfConnectionsTheyCannotCut) {
    Rig rig;
    for (int i = 0; i < 200; ++i)
        rig.table.Add(kTcpEstablished, "10.0.0.7", 40000 + i, "93.184.0.1", 443, 11);
    rig.table.Add(kTcpEstablished, "10.0.0.7", 50000, "93.184.0.1", 6667, 11);
    rig.Poll();
    AutoKillRuleSet set;
    RuleFileParser::Parse("ALLOW=1,HOST2=/example/\nPORT2=6667\nPORT1=1-1000,HOST2=.x.com\nIP2=203.0.\n",
                          set);
    RuleIndex index;
    index.Rebuild(set, rig.lang);
    index.BeginPass(rig.clock.TickMs(), rig.clock.LocalTime().tm_hour);
    rig.hosts.lookups = 0;
    int candidates = 0;
    for (const KeptConnection& k : rig.snapshot.kept()) candidates += index.CouldCut(k, rig.snapshot);
    EXPECT_EQ(candidates, 1);
    EXPECT_EQ(rig.hosts.lookups, 0) << "no rule's anchor is a host name";

    // A host anchor asks for each address's name once per pass, however many connections share it.
    RuleFileParser::Parse("HOST2=.tracker.net\n", set);
    index.Rebuild(set, rig.lang);
    index.BeginPass(rig.clock.TickMs(), rig.clock.LocalTime().tm_hour);
    candidates = 0;
    for (const KeptConnection& k : rig.snapshot.kept()) candidates += index.CouldCut(k, rig.snapshot);
    EXPECT_EQ(candidates, 0);
    EXPECT_EQ(rig.hosts.lookups, 1);

    // ALLOW rules alone cut nothing; a rule of negations only cannot be filed and lets all through.
    RuleFileParser::Parse("ALLOW=1,PORT2=6667\n", set);
    index.Rebuild(set, rig.lang);
    EXPECT_TRUE(index.empty());
    RuleFileParser::Parse("PORT2!=443\n", set);
    index.Rebuild(set, rig.lang);
    EXPECT_TRUE(index.everyConnection());

    // An age or an hour window is an anchor too: young connections and other hours pass over.
    auto count = [&](const char* rules, uint32_t now, int hour) {
        RuleFileParser::Parse(rules, set);
        index.Rebuild(set, rig.lang);
        index.BeginPass(now, hour);
        int n = 0;
        for (const KeptConnection& k : rig.snapshot.kept()) n += index.CouldCut(k, rig.snapshot);
        return n;
    };
    const uint32_t seen = rig.snapshot.kept()[0].firstSeen;
    EXPECT_EQ(count("TIME=60\n", seen + 59'999, 12), 0);
    EXPECT_EQ(count("TIME=60\n", seen + 60'000, 12), 201);
    EXPECT_EQ(count("SYSTIME=9-17,HOST2!=/x/\n", seen, 18), 0);
    EXPECT_EQ(count("SYSTIME=9-17,HOST2!=/x/\n", seen, 17), 201);
}

// The evaluator's own rule index changes which rules it tests, never the verdict: the same rule
// number, the same hold for a host name still being looked up.
TEST(RuleIndexTest, IndexedEvaluationGivesTheSameVerdicts) {
    std::mt19937 rng(8122026);
    Rig rig;
    rig.AddMixed(200, 7);
    int decided = 0, held = 0;
    for (int round = 0; round < 300; ++round) {
        std::string text;
        for (int part = 0; part < 4; ++part) text += RandomRules(rng);
        AutoKillRuleSet set;
        RuleFileParser::Parse(text, set);
        RuleEvaluator plain(set, rig.lang);
        RuleEvaluator indexed(set, rig.lang);
        indexed.SetIndexing(true);
        for (const KeptConnection& k : rig.snapshot.kept()) {
            const Verdict want = rig.Evaluate(plain, k);
            ASSERT_EQ(rig.Evaluate(indexed, k), want) << text;
            decided += want.rule != 0;
            held += want.held;
        }
    }
    EXPECT_GT(decided, 10000);
    EXPECT_GT(held, 100);
}

// Rules on IPv6 texts, and every other rule, over IPv4 and IPv6 connections together: the index
// never passes over one the evaluator would cut, and the evaluator's own index changes no verdict.
TEST(RuleIndexTest, Ipv6ConnectionsAreIndexedLikeIpv4Ones) {
    std::mt19937 rng(6062026);
    Rig rig;
    rig.AddIpv6(150);
    rig.AddMixed(100, 9);  // polls both
    const char* ipv6Rules[] = {"IP2=2001:db8:", "IP2=2001:db8::",        "IP2=/::9/",  "IP1=fe80::",
                               "IP2!=2001:",    "HOST2=.example.net",    "HOST2=????", "IP2=::1,PORT2=443",
                               "IP1=/db8::1/",  "HOST2=v6-5.example.net", "HOST2=.EXAMPLE.Net"};
    int cut = 0, rejected = 0, ipv6Cut = 0;
    for (int round = 0; round < 200; ++round) {
        std::string text = RandomRules(rng);
        for (int r = 0; r < 2; ++r) {
            text += ipv6Rules[rng() % (sizeof ipv6Rules / sizeof *ipv6Rules)];
            text += rng() % 3 == 0 ? ",ALLOW=1\n" : "\n";
        }
        AutoKillRuleSet set;
        RuleFileParser::Parse(text, set);
        RuleEvaluator plain(set, rig.lang);
        RuleEvaluator indexed(set, rig.lang);
        indexed.SetIndexing(true);
        RuleIndex index;
        index.Rebuild(set, rig.lang);
        index.BeginPass(rig.clock.TickMs(), rig.clock.LocalTime().tm_hour);
        for (const KeptConnection& k : rig.snapshot.kept()) {
            const Verdict want = rig.Evaluate(plain, k);
            ASSERT_EQ(rig.Evaluate(indexed, k), want) << text;
            const bool kills = want.verdict != Verdict::kLeave;
            const bool candidate = index.CouldCut(k, rig.snapshot);
            if (kills) {
                ++cut;
                ipv6Cut += k.key.v6;
                ASSERT_TRUE(candidate) << text << "port " << k.key.localPort;
            } else if (!candidate) {
                ++rejected;
            }
        }
    }
    EXPECT_GT(ipv6Cut, 1000);
    EXPECT_GT(cut - ipv6Cut, 1000);
    EXPECT_GT(rejected, 1000);
}

// The per-pass memo keeps one address per slot. An address that matches nothing, asked first, must
// not answer for another address that lands in its slot later in the same pass: with twice as many
// addresses as slots, asked in turns (one that matches nothing, then one that matches), many slots
// are shared that way.
TEST(RuleIndexTest, AMemoSlotSharedByTwoAddressesAnswersForEach) {
    Rig rig;
    AutoKillRuleSet set;
    RuleFileParser::Parse("IP2=/.2.2/\n", set);
    RuleIndex index;
    index.Rebuild(set, rig.lang);
    index.BeginPass(rig.clock.TickMs(), 12);
    int matching = 0, other = 0;  // candidates among the addresses that match, and the others
    for (int i = 0; i < 8192; ++i) {
        for (const char* host : {".1.1", ".2.2"}) {
            const std::string address = std::to_string(1 + (i >> 8)) + "." + std::to_string(i & 255) + host;
            KeptConnection k;
            k.key.remoteAddr = ParseDottedAddress(address.c_str());
            k.state = kTcpEstablished;
            k.firstSeen = rig.clock.TickMs();
            (host[1] == '2' ? matching : other) += index.CouldCut(k, rig.snapshot);
        }
    }
    EXPECT_EQ(matching, 8192);
    EXPECT_EQ(other, 0);
}

// With host-name resolution off every host text is its address: "????" is every connection, and a
// host suffix is tested against the address text, by the index as by the evaluator.
TEST(RuleIndexTest, UnnamedHostPatternWithResolutionOffIsEveryConnection) {
    Rig rig;
    rig.snapshot.SetHostNameSource(nullptr);
    rig.AddMixed(60, 9);
    rig.AddIpv6(20);
    rig.Poll();
    struct Case {
        const char* rules;
        int cuts;  // connections the evaluator cuts: -1 for all of them
    } cases[] = {{"HOST2=????\n", -1}, {"HOST1=????,HOST2=.113.9\n", 12}, {"HOST2=/DB8::5/\n", 4}};
    for (const Case& c : cases) {
        AutoKillRuleSet set;
        RuleFileParser::Parse(c.rules, set);
        RuleEvaluator evaluator(set, rig.lang);
        RuleIndex index;
        index.Rebuild(set, rig.lang);
        index.BeginPass(rig.clock.TickMs(), rig.clock.LocalTime().tm_hour);
        int cuts = 0;
        for (const KeptConnection& k : rig.snapshot.kept()) {
            const bool kills = rig.Evaluate(evaluator, k).verdict != Verdict::kLeave;
            cuts += kills;
            EXPECT_EQ(index.CouldCut(k, rig.snapshot), kills) << c.rules << " port " << k.key.localPort;
        }
        EXPECT_EQ(cuts, c.cuts < 0 ? static_cast<int>(rig.snapshot.kept().size()) : c.cuts) << c.rules;
    }
    EXPECT_EQ(rig.hosts.lookups, 0);
}

}  // namespace
}  // namespace varnel
