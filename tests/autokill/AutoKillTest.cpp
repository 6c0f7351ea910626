#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "autokill/AutoKill.h"
#include "autokill/RefusalSummary.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionReset.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"
#include "platform/fake/FakeReverseLookup.h"
#include "platform/fake/FakeSleeper.h"
#include "resolve/ResolverPool.h"
#include "AutoKillRig.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

// 200 characters ending in ".example.com", with an escape sequence a terminal would obey.
std::string LongName() {
    return "x\x1b[2J" + std::string(200 - 5 - 12, 'a') + ".example.com";
}

// Names every 93.184.x.x address after its last octet (93.184.0.5 with LongName); the rest are
// pending.
class StubHosts : public HostNameSource {
  public:
    void LookupHostName(const char* address, char* out, size_t n) override {
        if (std::strcmp(address, "93.184.0.5") == 0)
            std::snprintf(out, n, "%s", LongName().c_str());
        else if (std::strncmp(address, "93.184.", 7) == 0)
            std::snprintf(out, n, "%s",
                          std::strcmp(address, "93.184.0.1") == 0 ? "shop.example.com" : "other.net");
        else if (std::strcmp(address, "10.0.0.1") == 0)
            std::snprintf(out, n, "10.0.0.1");
        else
            std::snprintf(out, n, "(%s)", address);
    }
};

class AutoKillTest : public ::testing::Test, public AutoKillRig<StubHosts> {};

TEST_F(AutoKillTest, NoRulesOrSwitchedOffKillsNothing) {
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "93.184.0.1", 80, 77);
    Rules("");
    monitor->Tick();
    autokill->SetEnabled(false);
    Rules("NOLOG=1\n");
    autokill->SetEnabled(false);
    monitor->Tick();
    EXPECT_TRUE(reset.calls.empty());
}

TEST_F(AutoKillTest, AMatchingRowIsResetLoggedAndCounted) {
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "93.184.0.1", 80, 77);
    table.Add(kTcpEstablished, "10.0.0.1", 50001, "93.184.0.2", 443, 77);
    Rules("# keep the shop\nALLOW=1,HOST2=.example.com\nPORT2=80\nPORT2=443,NOLOG=1\n");
    monitor->Tick();
    // Both rows match a kill rule: port 80 would be killed but the shop is allowed first.
    ASSERT_EQ(reset.calls.size(), 1u);
    const TcpRow& r = reset.calls[0];
    EXPECT_EQ(r.state, uint32_t(kTcpDeleteTcb));
    EXPECT_EQ(r.localAddr, FakeConnectionTable::PackAddress("10.0.0.1"));
    EXPECT_EQ(r.remoteAddr, FakeConnectionTable::PackAddress("93.184.0.2"));
    EXPECT_EQ(r.localPort, htons(50001));
    EXPECT_EQ(r.remotePort, htons(443));
    EXPECT_EQ(autokill->blockedCount(), 1u);
    EXPECT_EQ(autokill->BlockedText(), " BLOCKED :     1");
    EXPECT_TRUE(autokill->blockLog().paneLines().empty()) << "NOLOG writes no line";

    Rules("PORT2=80-443\n");  // reloading sets BLOCKED back to 0
    EXPECT_EQ(autokill->blockedCount(), 0u);
    reset.calls.clear();
    monitor->Tick();
    EXPECT_EQ(reset.calls.size(), 2u);
    EXPECT_EQ(autokill->blockedCount(), 2u);
    std::string file = LogFile();
    EXPECT_NE(file.find("BLOCKED [2014/12/31 23:59:58] 10.0.0.1:50000 shop.example.com:80 curl(77)\r\n"),
              std::string::npos)
        << file;
    EXPECT_EQ(autokill->blockLog().paneLines().size(), 2u);
}

TEST_F(AutoKillTest, APendingLookupProtectsOnlyWhereAHostTestCouldChangeTheOutcome) {
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "192.0.2.7", 80, 77);  // remote name never answers
    Rules("ALLOW=1,HOST2=.example.com\nPORT2=80\n");
    for (int i = 0; i < 3; ++i) monitor->Tick();
    EXPECT_TRUE(reset.calls.empty()) << "the ALLOW rule could exempt it once the name is known";

    Rules("PORT2=80\nALLOW=1,HOST2=.example.com\n");
    monitor->Tick();
    ASSERT_EQ(reset.calls.size(), 1u) << "a port rule is enforced without waiting for the name";
    EXPECT_NE(LogFile().find("10.0.0.1:50000 (192.0.2.7):80 curl(77)"), std::string::npos) << LogFile();
}

// A name still pending two seconds after the connection was first seen is judged as a failed
// lookup: the host text is the address, as the list shows an address without a name.
TEST_F(AutoKillTest, APendingNameHoldsACutForTwoSecondsFromFirstSeen) {
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "192.0.2.7", 80, 77);  // never answers
    table.Add(kTcpEstablished, "10.0.0.1", 50001, "192.0.2.8", 25, 77);
    Rules("ALLOW=1,HOST2=.example.com\nPORT2=80\nHOST2=.2.8\n");
    monitor->Tick();
    clock.Advance(1'949);
    monitor->Tick();
    EXPECT_TRUE(reset.calls.empty()) << "held within two seconds";
    clock.Advance(1);
    monitor->Tick();
    auto cutLocalPorts = [&] {
        std::set<uint16_t> ports;
        for (const TcpRow& r : reset.calls) ports.insert(ntohs(static_cast<uint16_t>(r.localPort)));
        return ports;
    };
    EXPECT_EQ(cutLocalPorts(), (std::set<uint16_t>{50000, 50001})) << "a HOST2 suffix tests the address text";
    const std::string file = LogFile();
    EXPECT_NE(file.find("10.0.0.1:50000 192.0.2.7:80 curl(77)"), std::string::npos) << file;
    EXPECT_EQ(file.find("(192.0.2.7)"), std::string::npos) << file;
    EXPECT_EQ(std::string(monitor->Row(0)[kColRemoteHost]).front(), '(') << "the list still shows it pending";
    // The rule editor counts with the texts the kill pass judged.
    std::vector<SessionRow> judged;
    size_t shown = 0;
    AutoKill::JudgedRows(*monitor, judged, shown);
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(shown, 2u);
    for (const SessionRow& row : judged) EXPECT_STREQ(row[kColRemoteHost], row[kColRemoteAddress]);

    // A connection first seen later is held for its own two seconds.
    reset.calls.clear();
    table.Add(kTcpEstablished, "10.0.0.1", 50002, "192.0.2.7", 80, 77);
    monitor->Tick();
    EXPECT_EQ(cutLocalPorts(), (std::set<uint16_t>{50000, 50001})) << "only the old ones";
    judged.clear();
    AutoKill::JudgedRows(*monitor, judged, shown);
    ASSERT_EQ(judged.size(), 3u);
    EXPECT_EQ(std::count_if(judged.begin(), judged.end(), [](const SessionRow& r) { return r[kColRemoteHost][0] == '('; }),
              1) << "the new one is still held";
}

TEST_F(AutoKillTest, RulesAndTheBlockLogSeeTheWholeHostName) {
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "93.184.0.5", 443, 77);
    Rules("HOST2=.example.com\n");
    monitor->Tick();
    EXPECT_EQ(std::strlen(monitor->Row(0)[kColRemoteHost]), 127u) << "the list cuts what it shows";
    ASSERT_EQ(reset.calls.size(), 1u);
    const std::string file = LogFile();
    std::string printable = LongName();
    printable[1] = ' ';  // the escape byte
    EXPECT_NE(file.find(printable + ":443"), std::string::npos) << file;
    EXPECT_EQ(file.find('\x1b'), std::string::npos);
}

// Fills the table past what the list can show: 700 idle connections the rules below never match.
void AddIdleCrowd(FakeConnectionTable& table) {
    for (int i = 0; i < 700; ++i) table.Add(kTcpEstablished, "10.0.0.1", 40000 + i, "93.184.0.2", 443, 77);
}

bool Shown(const SessionMonitor& monitor, const char* remotePort) {
    for (int i = 0; i < monitor.listCount(); ++i)
        if (std::strcmp(monitor.Row(i)[kColRemotePort], remotePort) == 0) return true;
    return false;
}

TEST_F(AutoKillTest, ConnectionsTheListHasNoRoomForAreCutWithTheTextsTheyWouldShow) {
    AddIdleCrowd(table);
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "93.184.0.1", 6667, 77);
    table.Add(kTcpSynSent, "10.0.0.1", 50001, "93.184.0.3", 6667, 77);
    settings->WriteString("Session", "AutoBlockLogFormat",
                          "$IP1$ $HOST1$:$PORT1$ $IP2$ $HOST2$:$PORT2$ $STAT$ $TM$ $PID$ #$RULE$");
    Rules("# idle crowd stays\nPORT2=6667\n");
    monitor->Tick();
    EXPECT_EQ(monitor->listCount(), 599);
    EXPECT_FALSE(Shown(*monitor, "6667"));
    ASSERT_EQ(reset.calls.size(), 2u);
    EXPECT_EQ(reset.calls[0].remoteAddr, FakeConnectionTable::PackAddress("93.184.0.1"));
    EXPECT_EQ(reset.calls[0].localPort, htons(50000));
    EXPECT_EQ(autokill->blockedCount(), 2u);
    const std::string file = LogFile();
    EXPECT_NE(
        file.find("10.0.0.1 10.0.0.1:50000 93.184.0.1 shop.example.com:6667 Connecting 00s curl(77) #2\r\n"),
        std::string::npos)
        << file;
    EXPECT_NE(file.find("93.184.0.3 other.net:6667 Waiting 00s curl(77) #2"), std::string::npos) << file;
}

// Half-closed connections still carry data one way: they are cut as established ones are, with
// the texts and the age of an established connection. Those that carry nothing more are not kept.
TEST_F(AutoKillTest, HalfClosedConnectionsAreJudgedAsEstablishedAndCut) {
    const uint32_t states[] = {kTcpSynSent,   kTcpEstablished, kTcpFinWait1, kTcpFinWait2,
                               kTcpCloseWait, kTcpClosing,     kTcpLastAck,  kTcpTimeWait};
    for (uint32_t s : states) table.Add(s, "10.0.0.1", 50000 + int(s), "93.184.0.1", 6667, 77);
    settings->WriteString("Session", "AutoBlockLogFormat", "$PORT1$ $STAT$ $TM$");
    Rules("TIME=60,STAT=1,PORT2=6667\n");
    monitor->Tick();
    clock.Advance(60'000);
    monitor->Tick();
    EXPECT_EQ(monitor->listCount(), 2) << "the list shows what it showed";
    EXPECT_EQ(monitor->kept().size(), 5u);
    ASSERT_EQ(reset.calls.size(), 4u);
    const std::string file = LogFile();
    for (int port = 50005; port <= 50008; ++port) {
        EXPECT_EQ(reset.calls[size_t(port - 50005)].localPort, htons(uint16_t(port)));
        EXPECT_NE(file.find(std::to_string(port) + " Connecting 01m 00s\r\n"), std::string::npos) << file;
    }
}

TEST_F(AutoKillTest, AnUnshownConnectionAgesAndIsExemptedLikeAShownOne) {
    AddIdleCrowd(table);
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "93.184.0.1", 6667, 77);
    table.Add(kTcpEstablished, "10.0.0.1", 50001, "93.184.0.9", 6667, 77);
    Rules("ALLOW=1,IP2=93.184.0.9\nTIME=60,PORT2=6667\n");
    monitor->Tick();
    clock.Advance(59'000);
    monitor->Tick();
    EXPECT_TRUE(reset.calls.empty()) << "59 s old";
    clock.Advance(1'000);
    monitor->Tick();
    ASSERT_EQ(reset.calls.size(), 1u) << "its first sighting was kept although it was never shown";
    EXPECT_EQ(reset.calls[0].remoteAddr, FakeConnectionTable::PackAddress("93.184.0.1"));
    EXPECT_NE(LogFile().find("shop.example.com:6667"), std::string::npos);

    // Gone for one poll, it is new again when it comes back.
    table.rows().pop_back();
    table.rows().pop_back();
    monitor->Tick();
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "93.184.0.1", 6667, 77);
    reset.calls.clear();
    monitor->Tick();
    EXPECT_TRUE(reset.calls.empty());
}

TEST_F(AutoKillTest, AConnectionThatEndedBeforeItsResetIsNeitherBlockedNorReported) {
    AddIdleCrowd(table);
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "93.184.0.1", 6667, 77);
    reset.answer = {ResetStatus::kNoSuchConnection, ENOENT};
    std::vector<std::string> failures;
    autokill->SetFailureListener([&](const std::string& line) { failures.push_back(line); });
    Rules("PORT2=6667\n");
    monitor->Tick();
    EXPECT_EQ(reset.calls.size(), 1u);
    EXPECT_EQ(autokill->blockedCount(), 0u);
    EXPECT_TRUE(failures.empty());
    EXPECT_TRUE(autokill->blockLog().paneLines().empty());
    EXPECT_FALSE(fs::exists(autokill->blockLog().path()));
}

TEST_F(AutoKillTest, AFailedResetIsNoBlockAndIsReportedOncePerConnection) {
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "93.184.0.2", 80, 77);
    reset.answer = {ResetStatus::kPermissionDenied, EPERM};
    std::vector<std::string> failures;
    autokill->SetFailureListener([&](const std::string& line) { failures.push_back(line); });
    Rules("PORT2=80\n");
    for (int i = 0; i < 5; ++i) monitor->Tick();
    EXPECT_EQ(reset.calls.size(), 5u) << "retried while the rule matches";
    EXPECT_EQ(autokill->blockedCount(), 0u);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("NOT BLOCKED 10.0.0.1:50000 93.184.0.2:80 curl(77): permission denied"),
              std::string::npos)
        << failures[0];
    EXPECT_NE(failures[0].find("CAP_NET_ADMIN"), std::string::npos);
    EXPECT_EQ(autokill->blockLog().paneLines().size(), 1u);
    EXPECT_FALSE(fs::exists(autokill->blockLog().path())) << "a failure is no BLOCKED line";

    // The connection goes away and comes back: reported again.
    table.failing = true;
    monitor->Tick();
    table.failing = false;
    monitor->Tick();
    EXPECT_EQ(failures.size(), 2u);

    // A connection that vanished before its reset is neither a block nor a failure.
    reset.answer = {ResetStatus::kNoSuchConnection, ENOENT};
    table.rows()[0].localPort = FakeConnectionTable::PackPort(50001);
    monitor->Tick();
    EXPECT_EQ(failures.size(), 2u);
    EXPECT_EQ(autokill->blockedCount(), 0u);
}

// While the right to reset is being asked for, a reset is pending: not a failure to report, only
// tried again next tick; what it ends in (cut or refused) is what the user hears of, once.
TEST_F(AutoKillTest, APendingResetIsRetriedAndOnlyItsOutcomeIsReported) {
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "93.184.0.2", 80, 77);
    reset.answer.status = ResetStatus::kPending;
    std::vector<std::string> failures;
    autokill->SetFailureListener([&](const std::string& line) { failures.push_back(line); });
    std::vector<std::string> refusedEvents;  // what the metrics count: each connection once
    autokill->SetEventListener([&](const MonitorEvent& e) {
        if (e.reason != nullptr) refusedEvents.push_back(std::string(e.reason) + " " + std::string(e.remote));
    });
    Rules("PORT2=80\n");
    for (int i = 0; i < 3; ++i) monitor->Tick();
    EXPECT_EQ(reset.calls.size(), 3u);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(autokill->blockedCount(), 0u);

    reset.answer = {ResetStatus::kRefused, 0, "the administrator's password was not given (pkexec cancelled)"};
    monitor->Tick();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("NOT BLOCKED: 1 connection not cut: no administrator password was given "
                               "(pkexec cancelled). A desktop without a polkit authentication agent"),
              std::string::npos)
        << failures[0];
    // Asked again later: pending again, then refused again; the connection stays reported once.
    reset.answer = {ResetStatus::kPending, 0, ""};
    monitor->Tick();
    reset.answer = {ResetStatus::kRefused, 0, "not authorized"};
    monitor->Tick();
    EXPECT_EQ(failures.size(), 1u);
    EXPECT_EQ(refusedEvents, std::vector<std::string>{"refused 93.184.0.2:80"});
    // Authorized in the end: cut.
    reset.answer = {ResetStatus::kOk, 0, ""};
    monitor->Tick();
    EXPECT_EQ(autokill->blockedCount(), 1u);
}

TEST_F(AutoKillTest, ManyFailuresAtOnceAreReportedTwentyByNameAndTheRestInOneLine) {
    AddIdleCrowd(table);  // 700 connections, most of them beyond the list
    reset.answer = {ResetStatus::kPermissionDenied, EPERM};
    std::vector<std::string> failures;
    autokill->SetFailureListener([&](const std::string& line) { failures.push_back(line); });
    Rules("PORT2=443\n");
    monitor->Tick();
    EXPECT_EQ(reset.calls.size(), 700u);
    ASSERT_EQ(failures.size(), 21u);
    EXPECT_NE(failures[19].find("NOT BLOCKED 10.0.0.1:"), std::string::npos) << failures[19];
    EXPECT_NE(failures[20].find("NOT BLOCKED: 680 more connections: permission denied"), std::string::npos)
        << failures[20];
    monitor->Tick();
    EXPECT_EQ(failures.size(), 21u) << "each connection is reported once while it keeps failing";
}

TEST_F(AutoKillTest, TogglingTheSwitchResetsTheCounter) {
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "93.184.0.2", 80, 77);
    Rules("NOLOG=1\n");
    monitor->Tick();
    EXPECT_EQ(autokill->blockedCount(), 1u);
    autokill->SetEnabled(false);
    EXPECT_EQ(autokill->blockedCount(), 0u);
}

// A row built from texts alone carries no key: its reset names no connection, whatever the texts.
// The kill pass asks the resolver only for names a verdict needs. 600 connections fill the list
// (all between two addresses); 5,000 more from a third address to 5,000 others are never shown.
// Port rules look up none of those; a HOST rule looks up only the remote addresses of the
// connections it could cut, each once while its lookup is outstanding.
TEST_F(AutoKillTest, NamesAreLookedUpOnlyForShownRowsAndWhereAHostTestDecides) {
    auto lookup = std::make_shared<FakeReverseLookup>();
    lookup->SetAsynchronous(true);  // a request stays outstanding until the test answers it
    ResolverPool pool(std::make_shared<HostNameCache>(), lookup, std::make_shared<FakeSleeper>(),
                      ResolverPool::StartDetachedThread, std::make_shared<FakeClock>());
    monitor->SetHostNameSource(&pool);
    for (int i = 0; i < 600; ++i) table.Add(kTcpEstablished, "10.0.0.1", 40000 + i, "10.0.0.2", 8000, 77);
    std::set<uint32_t> https;  // 50 connections to 25 addresses on port 443, the rest on port 80
    for (int i = 0; i < 5000; ++i) {
        const bool tls = i % 100 == 0;
        const std::string remote = tls ? "100.65.0." + std::to_string(i / 100 % 25)
                                       : "100.64." + std::to_string(i / 200) + "." + std::to_string(i % 200);
        if (tls) https.insert(FakeConnectionTable::PackAddress(remote));
        table.Add(kTcpEstablished, "10.0.0.3", 1024 + i, remote, tls ? 443 : 80, 77);
    }
    ASSERT_EQ(https.size(), 25u);
    auto asked = [&] {
        const std::vector<uint32_t> all = lookup->nameInfoAsked();
        return std::set<uint32_t>(all.begin(), all.end());
    };
    std::set<uint32_t> expected{FakeConnectionTable::PackAddress("10.0.0.1"),
                                FakeConnectionTable::PackAddress("10.0.0.2")};
    auto tick = [&](int n) {
        for (int i = 0; i < n; ++i) {
            monitor->Tick();
            clock.Advance(500);
        }
    };

    Rules("PORT2=80,NOLOG=1\nPORT2=22\n");
    tick(6);  // past the hold of a pending name
    EXPECT_EQ(reset.calls.size(), 6u * 4950) << "every unshown connection to port 80, at every tick";
    EXPECT_EQ(asked(), expected) << "the shown rows' addresses only";
    std::vector<SessionRow> judged;
    size_t shownRows = 0;
    AutoKill::JudgedRows(*monitor, judged, shownRows);
    EXPECT_EQ(judged.size(), 5600u);
    EXPECT_EQ(asked(), expected) << "nor does a count for the rule editor";

    reset.calls.clear();
    Rules("PORT2=80,NOLOG=1\nHOST2=.example.com,PORT2=443\n");
    tick(3);
    expected.insert(https.begin(), https.end());
    EXPECT_EQ(asked(), expected) << "the remote addresses of the connections the HOST rule could cut";
    EXPECT_EQ(lookup->nameInfoAsked().size(), expected.size()) << "each address once";
    EXPECT_EQ(reset.calls.size(), 3u * 4950) << "a port-443 connection waits for its name";

    for (size_t i = 0; i < lookup->begun(); ++i) lookup->Answer(i, true, "www.example.com");
    reset.calls.clear();
    tick(1);
    EXPECT_EQ(reset.calls.size(), 5000u) << "named, the port-443 connections are cut too";
    EXPECT_EQ(lookup->nameInfoAsked().size(), expected.size());
}

TEST(AutoKillRequestTest, TextsAreNeverReadBackIntoARequest) {
    SessionRow row{};
    const char* texts[kColumnCount] = {"10.0.0.1", "x", "80", "10.0.0.2", "y", "443", "", "", ""};
    for (int c = 0; c < kColumnCount; ++c) std::snprintf(row.text[c], sizeof row.text[c], "%s", texts[c]);
    TcpRow r = AutoKill::ResetRequestFor(row.key);
    EXPECT_EQ(r.localAddr | r.remoteAddr | r.localPort | r.remotePort | uint32_t(r.v6), 0u);
}

// Refusals of the right to cut are one line a minute with the count, whatever the number of
// connections; what helps (a polkit agent) is said when the password prompt failed.
TEST(RefusalSummaryTest, OneLineAMinuteWithTheCountAndTheAdvice) {
    const ResetResult noPassword{ResetStatus::kRefused, 0, "the administrator's password was not given (pkexec cancelled)"};
    const ResetResult noLauncher{ResetStatus::kRefused, 0, "pkexec is not installed"};
    struct Row {
        int refused;
        uint32_t atMs;
        ResetResult result;
        bool japanese;
        const char* line;  // "" for none
    } rows[] = {
        {12, 1000, noPassword, false,
         "NOT BLOCKED: 12 connections not cut: no administrator password was given (pkexec cancelled). A desktop "
         "without a polkit authentication agent cannot ask for the password: start one (the desktop's own, "
         "lxpolkit or polkit-gnome)"},
        {12, 1500, noPassword, false, ""},   // within the minute
        {0, 70000, noPassword, false, ""},   // nothing refused in this pass
        {1, 61000, noLauncher, false, "NOT BLOCKED: 1 connection not cut: refused: pkexec is not installed"},
        {3, 200000, noPassword, true,
         "切断できません: 3 件の接続を切断できません: 管理者のパスワードが入力されませんでした (pkexec cancelled)。"
         "パスワードを尋ねるには polkit 認証エージェントが必要です。デスクトップ標準のもの、lxpolkit または "
         "polkit-gnome を起動してください"},
    };
    RefusalSummary summary;
    // Every reason has its Japanese form; the system's own words stay.
    struct Reason {
        ResetResult result;
        const char* japanese;
    } reasons[] = {
        {{ResetStatus::kPermissionDenied, EPERM, ""}, "権限がありません: 接続の切断には CAP_NET_ADMIN が必要です"},
        {{ResetStatus::kNotSupported, EOPNOTSUPP, ""}, "このカーネルは接続を切断できません"},
        {{ResetStatus::kFailed, 0, "netlink said no"}, "切断に失敗しました: netlink said no"},
        {noLauncher, "切断の権限を得られません: pkexec is not installed"},
        {{ResetStatus::kRefused, 0, "not authorized (pkexec could not get it)"}, "認可されませんでした (pkexec could not get it)"},
    };
    for (const Reason& r : reasons)
        EXPECT_EQ(RefusalSummary::ReasonText(r.result, UiLanguage::Japanese()).rfind(r.japanese, 0), 0u)
            << RefusalSummary::ReasonText(r.result, UiLanguage::Japanese());
    for (const Row& r : rows) {
        for (int i = 0; i < r.refused; ++i) summary.Count(r.result);
        EXPECT_EQ(summary.TakeLine(r.atMs, r.japanese ? UiLanguage::Japanese() : UiLanguage::English()), r.line)
            << r.refused << " at " << r.atMs;
    }
}

}  // namespace
}  // namespace varnel
