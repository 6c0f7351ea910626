#include "session/SessionMonitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"

namespace varnel {
namespace {

class SessionMonitorTest : public ::testing::Test {
protected:
    void Make(const char* lang = "EN") {
        monitor = std::make_unique<SessionMonitor>(table, processes, clock, UiLanguage(lang));
        monitor->Start();
    }
    std::vector<int> LocalPorts() const {
        std::vector<int> ports;
        for (int i = 0; i < monitor->listCount(); ++i) ports.push_back(std::stoi(monitor->Row(i)[kColLocalPort]));
        return ports;
    }

    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    std::unique_ptr<SessionMonitor> monitor;
};

TEST_F(SessionMonitorTest, ShowsAtMost599RowsAndCountsThem) {
    for (int i = 0; i < 650; ++i) table.Add(kTcpEstablished, "10.0.0.1", 1000 + i, "10.0.0.2", 80, 1);
    Make();
    monitor->Tick();
    EXPECT_EQ(monitor->rowCount(), 599);
    EXPECT_EQ(monitor->listCount(), 599);
    EXPECT_EQ(monitor->shownCount(), 599u);
    EXPECT_EQ(monitor->CounterText(), " Connections (Max) :  599 ( 599)");
    // The 600th stored row (local port 1599) is never shown.
    for (int i = 0; i < 599; ++i) EXPECT_NE(std::string(monitor->Row(i)[kColLocalPort]), "1599");
}

TEST_F(SessionMonitorTest, RowTextsInBothLanguages) {
    processes.processes = {{77, "curl"}};
    table.Add(kTcpEstablished, "192.168.1.5", 40000, "93.184.216.34", 443, 77);
    table.Add(kTcpSynSent, "192.168.1.5", 40001, "93.184.216.34", 443, 77);
    Make();
    clock.tick = 10000;
    monitor->Tick();
    clock.Advance(3723000);  // 1h 02m 03s
    monitor->Tick();
    const SessionRow& r = monitor->Row(0);
    EXPECT_STREQ(r[kColLocalAddress], "192.168.1.5");
    EXPECT_STREQ(r[kColLocalHost], "192.168.1.5");
    EXPECT_STREQ(r[kColLocalPort], "40000");
    EXPECT_STREQ(r[kColRemoteAddress], "93.184.216.34");
    EXPECT_STREQ(r[kColRemotePort], "443");
    EXPECT_STREQ(r[kColStatus], "Connecting");
    EXPECT_STREQ(r[kColTime], "1h 02m 03s");
    EXPECT_STREQ(r[kColProcess], "curl(77)");
    EXPECT_STREQ(monitor->Row(1)[kColStatus], "Waiting");

    Make("JP");
    clock.tick = 10000;
    monitor->Tick();
    clock.Advance(3723000);
    monitor->Tick();
    EXPECT_STREQ(monitor->Row(0)[kColStatus], "接続中");
    EXPECT_STREQ(monitor->Row(1)[kColStatus], "接続待ち");
    EXPECT_STREQ(monitor->Row(0)[kColTime], "1時間 02分 03秒");
    EXPECT_EQ(monitor->CounterText(), " 接続数 (Max) :    2 (   2)");
}

TEST(RowTextsTest, ElapsedTimeBoundaries) {
    UiLanguage en = UiLanguage::English(), jp = UiLanguage::Japanese();
    char out[64];
    struct Case {
        uint32_t ms;
        const char* en;
        const char* jp;
    } cases[] = {
        {0, "00s", "00秒"},
        {59999, "59s", "59秒"},
        {60000, "01m 00s", "01分 00秒"},
        {3599999, "59m 59s", "59分 59秒"},
        {3600000, "1h 00m 00s", "1時間 00分 00秒"},
        {100u * 3600000u + 61000u, "100h 01m 01s", "100時間 01分 01秒"},
    };
    for (const Case& c : cases) {
        FormatElapsed(5000 + c.ms, 5000, en, out, sizeof out);
        EXPECT_STREQ(out, c.en) << c.ms;
        FormatElapsed(5000 + c.ms, 5000, jp, out, sizeof out);
        EXPECT_STREQ(out, c.jp) << c.ms;
    }
    // The tick counter wrapped between first sight and now.
    FormatElapsed(1000, 0xFFFFFFFFu - 999u, en, out, sizeof out);
    EXPECT_STREQ(out, "02s");
    EXPECT_STREQ(StateName(11, en), "TIME WAIT");
    EXPECT_STREQ(StateName(13, en), "");
    EXPECT_STREQ(ColumnTitle(8, jp), "イメージ名(PID)");
    EXPECT_STREQ(ColumnTitle(4, en), "Hostname2");
}

TEST_F(SessionMonitorTest, DefaultOrderIsStatusDescendingOldestFirst) {
    table.Add(kTcpSynSent, "10.0.0.1", 1, "10.0.0.2", 80);
    table.Add(kTcpEstablished, "10.0.0.1", 2, "10.0.0.2", 80);
    Make();
    clock.tick = 1000;
    monitor->Tick();
    table.Add(kTcpEstablished, "10.0.0.1", 3, "10.0.0.2", 80);
    table.Add(kTcpSynRcvd, "10.0.0.1", 4, "10.0.0.2", 80);
    clock.tick = 5000;
    monitor->Tick();
    EXPECT_EQ(LocalPorts(), (std::vector<int>{2, 3, 4, 1}));
}

TEST_F(SessionMonitorTest, HeaderClicksFlipOrMoveTheOrderAndChainKeys) {
    table.Add(kTcpEstablished, "10.0.0.9", 30, "10.0.0.2", 80);
    table.Add(kTcpEstablished, "10.0.0.10", 10, "10.0.0.2", 80);
    table.Add(kTcpEstablished, "10.0.0.9", 20, "10.0.0.3", 80);
    Make();
    monitor->Tick();
    monitor->OnColumnClick(2);  // Port1, keeps the descending direction
    EXPECT_TRUE(monitor->sorter().sortDescending());
    EXPECT_EQ(LocalPorts(), (std::vector<int>{30, 20, 10}));
    monitor->OnColumnClick(2);  // same column: ascending
    EXPECT_EQ(LocalPorts(), (std::vector<int>{10, 20, 30}));
    // IP Address2 ascending: remote address, then remote port, then local port.
    monitor->OnColumnClick(3);
    EXPECT_EQ(LocalPorts(), (std::vector<int>{10, 30, 20}));
    // Text order of the padded address: "10.0.0.10" sorts before "10.0.0.9".
    monitor->OnColumnClick(0);
    EXPECT_EQ(LocalPorts(), (std::vector<int>{10, 20, 30}));
    // Keys never grow past their limit, however often the user clicks.
    for (int i = 0; i < 20; ++i) monitor->OnColumnClick(i % 9);
    for (int i = 0; i < monitor->rowCount(); ++i) EXPECT_LE(std::strlen(monitor->Record(i).sortKey), 254u);
}

TEST_F(SessionMonitorTest, ChainedKeysBreakTiesByThePreviousOrder) {
    // Same process text, same age, same local port: the process column ties on everything but
    // remote address and port — two rows differ only in the remote host name.
    table.Add(kTcpEstablished, "10.0.0.1", 5, "10.0.0.2", 80);
    table.Add(kTcpEstablished, "10.0.0.1", 5, "10.0.0.2", 81);
    Make();
    monitor->Tick();
    monitor->OnColumnClick(5);  // Port2 descending: 81 then 80
    EXPECT_STREQ(monitor->Row(0)[kColRemotePort], "81");
    monitor->OnColumnClick(6);  // Status: equal state, age, local port, remote address
    EXPECT_STREQ(monitor->Row(0)[kColRemotePort], "81") << "the previous order decides the tie";
    monitor->OnColumnClick(6);  // ascending: reversed
    EXPECT_STREQ(monitor->Row(0)[kColRemotePort], "80");
}

TEST_F(SessionMonitorTest, RowsThatTieKeepTheirPlacesWhateverTheTableOrder) {
    // One server port, one client address, first seen in the same tick: the Status key ties.
    for (int port = 40000; port < 40040; ++port) table.Add(kTcpEstablished, "10.0.0.1", 443, "10.0.0.9", port);
    Make();
    monitor->Tick();
    std::vector<std::string> first;
    for (int i = 0; i < monitor->listCount(); ++i) first.push_back(monitor->Row(i)[kColRemotePort]);
    std::reverse(table.rows().begin(), table.rows().end());
    monitor->Tick();
    for (int i = 0; i < monitor->listCount(); ++i) EXPECT_EQ(first[static_cast<size_t>(i)], monitor->Row(i)[kColRemotePort]);
    EXPECT_EQ(first.front(), "40039") << "descending: the tie-break follows the direction";
}

TEST_F(SessionMonitorTest, AgesOfMoreThanElevenDaysSortNumerically) {
    table.Add(kTcpEstablished, "10.0.0.1", 1, "10.0.0.2", 80);
    Make();
    clock.tick = 1000;
    monitor->Tick();
    table.Add(kTcpEstablished, "10.0.0.1", 2, "10.0.0.2", 80);
    clock.Advance(1'100'000'000);  // 12.7 days later
    monitor->Tick();
    table.Add(kTcpEstablished, "10.0.0.1", 3, "10.0.0.2", 80);
    clock.Advance(200'000'000);
    monitor->Tick();
    monitor->OnColumnClick(7);  // Time, descending: oldest first
    EXPECT_EQ(LocalPorts(), (std::vector<int>{1, 2, 3}));
}

TEST_F(SessionMonitorTest, MaximumRestartsEveryResetPeriod) {
    table.Add(kTcpEstablished, "10.0.0.1", 1, "10.0.0.2", 80);
    table.Add(kTcpEstablished, "10.0.0.1", 2, "10.0.0.2", 80);
    Make();
    monitor->SetResetMaxMinutes(1);
    monitor->Tick();
    EXPECT_EQ(monitor->maxCount(), 2u);
    table.rows().pop_back();
    for (int i = 1; i < 119; ++i) monitor->Tick();
    EXPECT_EQ(monitor->shownCount(), 1u);
    EXPECT_EQ(monitor->maxCount(), 2u);
    monitor->Tick();  // the 120th tick restarts the maximum
    EXPECT_EQ(monitor->maxCount(), 0u);
    EXPECT_EQ(monitor->shownCount(), 0u);
    EXPECT_TRUE(monitor->TakeCounterChanged());
    EXPECT_FALSE(monitor->TakeCounterChanged());
    monitor->Tick();
    EXPECT_EQ(monitor->maxCount(), 1u);
    EXPECT_EQ(monitor->CounterText(), " Connections (Max) :    1 (   1)");
}

TEST_F(SessionMonitorTest, StopKeepsRowsAndRemoveAllKeepsAges) {
    table.Add(kTcpEstablished, "10.0.0.1", 1, "10.0.0.2", 80);
    Make();
    clock.tick = 1000;
    monitor->Tick();
    monitor->Stop();
    EXPECT_EQ(monitor->shownCount(), 0u);
    EXPECT_EQ(monitor->listCount(), 1);
    clock.tick = 61000;
    monitor->Start();  // the kept row's age includes the stopped time
    EXPECT_STREQ(monitor->Row(0)[kColTime], "01m 00s");
    monitor->Tick();
    EXPECT_STREQ(monitor->Row(0)[kColTime], "01m 00s") << "first-seen survives a stop and start";

    monitor->RemoveAllItems();
    EXPECT_EQ(monitor->listCount(), 0);
    EXPECT_EQ(monitor->maxCount(), 0u);
    clock.tick = 62000;
    monitor->Tick();
    ASSERT_EQ(monitor->listCount(), 1);
    EXPECT_STREQ(monitor->Row(0)[kColTime], "01m 01s");
}

TEST_F(SessionMonitorTest, EmptyTableClearsTheList) {
    table.Add(kTcpEstablished, "10.0.0.1", 1, "10.0.0.2", 80);
    Make();
    monitor->Tick();
    table.failing = true;
    monitor->Tick();
    EXPECT_EQ(monitor->listCount(), 0);
    EXPECT_EQ(monitor->CounterText(), " Connections (Max) :    0 (   1)");
}

}  // namespace
}  // namespace varnel
