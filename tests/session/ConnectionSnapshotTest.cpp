#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"
#include "session/ConnectionSnapshot.h"

namespace varnel {
namespace {

class ConnectionSnapshotTest : public ::testing::Test {
  protected:
    ConnectionSnapshotTest() { processes.processes = {{100, "firefox-esr"}, {200, "sshd"}}; }

    // One poll as the tick makes it: current becomes previous, current starts empty.
    int Poll() {
        std::memcpy(session->previous.data(), session->current.data(), sizeof session->current);
        std::memset(static_cast<void*>(session->current.data()), 0, sizeof session->current);
        return snapshot.TakeSnapshot(*session);
    }
    const SessionRecord& Rec(int i) const { return session->current[static_cast<size_t>(i)]; }

    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    ProcessNameCache names{processes};
    ConnectionSnapshot snapshot{table, names, clock};
    std::unique_ptr<SessionTable> session = std::make_unique<SessionTable>();
};

TEST_F(ConnectionSnapshotTest, KeepsOnlyShownStatesAndDropsListeningEndpoints) {
    table.Add(kTcpListen, "0.0.0.0", 22, "0.0.0.0", 0, 200);
    table.Add(kTcpEstablished, "0.0.0.0", 5000, "10.0.0.9", 80, 100);
    table.Add(kTcpEstablished, "10.0.0.1", 5001, "0.0.0.0", 0, 100);
    for (uint32_t s = 1; s <= 12; ++s) table.Add(s, "10.0.0.1", 6000 + int(s), "10.0.0.2", 443, 100);
    ASSERT_EQ(Poll(), 6);
    const int expected[] = {1, 2, 3, 4, 5, 12};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(Rec(i).state, expected[i]);
        EXPECT_EQ(Rec(i).localPort, 6000 + expected[i]) << "rows stay in table order";
    }
    EXPECT_STREQ(Rec(0).localAddress, "10.0.0.1");
    EXPECT_STREQ(Rec(0).remoteAddress, "10.0.0.2");
    EXPECT_STREQ(Rec(0).localHost, "10.0.0.1") << "resolution off: the host is the address";
    EXPECT_EQ(Rec(0).remotePort, 443);
    EXPECT_EQ(Rec(6).localAddress[0], '\0');
    // The half-closed ones are kept besides, after them, for auto kill; CLOSING, LAST_ACK and
    // TIME_WAIT carry no more data and are not.
    ASSERT_EQ(snapshot.kept().size(), 9u);
    EXPECT_EQ(snapshot.shownKeptCount(), 9u);
    for (size_t i = 6; i < 9; ++i) EXPECT_EQ(snapshot.kept()[i].state, kTcpFinWait1 + (i - 6));
    // A state code of 0 or below counts as CLOSED.
    table.Clear();
    table.Add(0, "10.0.0.1", 1, "10.0.0.2", 2);
    EXPECT_EQ(Poll(), 1);
}

TEST_F(ConnectionSnapshotTest, StoresAtMost600RowsInTableOrder) {
    for (int i = 0; i < 700; ++i) table.Add(kTcpEstablished, "127.0.0.1", 10000 + i, "127.0.0.2", 80, 100);
    ASSERT_EQ(Poll(), 600);
    EXPECT_EQ(Rec(599).localPort, 10599);
}

TEST_F(ConnectionSnapshotTest, FirstSeenFollowsTheFourTuple) {
    table.Add(kTcpSynSent, "10.0.0.1", 5000, "10.0.0.2", 80, 100);
    table.Add(kTcpEstablished, "10.0.0.1", 5001, "10.0.0.2", 80, 100);
    clock.tick = 1000;
    Poll();
    EXPECT_EQ(Rec(0).firstSeen, 1000u);

    // The opening connection becomes established and changes owner: same identity, same age.
    // The other one passes through a closing state and comes back: it is new.
    table.rows()[0].state = kTcpEstablished;
    table.rows()[0].owningPid = 200;
    table.rows()[1].state = kTcpCloseWait;
    clock.tick = 1500;
    Poll();
    ASSERT_EQ(snapshot.kept().size(), 2u);
    EXPECT_EQ(snapshot.kept()[1].firstSeen, 1000u) << "half-closing, it keeps its age";
    table.rows()[1].state = kTcpEstablished;
    clock.tick = 2000;
    Poll();
    EXPECT_EQ(Rec(0).firstSeen, 1000u);
    EXPECT_STREQ(Rec(0).processText, "sshd(200)");
    EXPECT_EQ(Rec(1).firstSeen, 2000u);

    // Another remote port is another connection.
    table.rows()[0].remotePort = FakeConnectionTable::PackPort(81);
    clock.tick = 2500;
    Poll();
    EXPECT_EQ(Rec(0).firstSeen, 2500u);
}

TEST_F(ConnectionSnapshotTest, AFailedPollOrAnEmptyOneForgetsEveryAge) {
    table.Add(kTcpEstablished, "10.0.0.1", 5000, "10.0.0.2", 80, 100);
    clock.tick = 1000;
    Poll();
    table.failing = true;
    clock.tick = 1500;
    EXPECT_EQ(Poll(), 0);
    table.failing = false;
    clock.tick = 2000;
    ASSERT_EQ(Poll(), 1);
    EXPECT_EQ(Rec(0).firstSeen, 2000u);

    // A poll that read the table and found it empty: the connection is back, and new.
    const TcpRow row = table.rows()[0];
    table.Clear();
    clock.tick = 2500;
    EXPECT_EQ(Poll(), 0);
    EXPECT_TRUE(snapshot.lastReadOk());
    table.rows().push_back(row);
    clock.tick = 3000;
    ASSERT_EQ(Poll(), 1);
    EXPECT_EQ(Rec(0).firstSeen, 3000u);
}

TEST_F(ConnectionSnapshotTest, ManyConnectionsEachKeepTheirOwnAge) {
    // Enough rows to make the index probe past collisions.
    for (int i = 0; i < 600; ++i)
        table.Add(kTcpEstablished, "10.0." + std::to_string(i % 7) + ".1", 1000 + i,
                  "10.1.0." + std::to_string(i % 250), 80 + i % 3, 100);
    clock.tick = 1000;
    Poll();
    // Every other connection is replaced by a new one, and the order is reversed.
    for (size_t i = 0; i < table.rows().size(); i += 2)
        table.rows()[i].localPort = FakeConnectionTable::PackPort(40000 + int(i));
    std::reverse(table.rows().begin(), table.rows().end());
    clock.tick = 9000;
    ASSERT_EQ(Poll(), 600);
    int carried = 0;
    for (int i = 0; i < 600; ++i) {
        bool isNew = Rec(i).localPort >= 40000;
        EXPECT_EQ(Rec(i).firstSeen, isNew ? 9000u : 1000u) << i;
        carried += !isNew;
    }
    EXPECT_EQ(carried, 300);
}

TEST_F(ConnectionSnapshotTest, ReaderChoiceAndProcessColumn) {
    table.Add(kTcpEstablished, "10.0.0.1", 5000, "0.1.2.3", 80, 100);
    table.Add(kTcpEstablished, "10.0.0.1", 5001, "10.0.0.2", 80, 4242);

    table.hasExtended = true;
    table.hasFromStack = true;
    ASSERT_EQ(Poll(), 2);
    EXPECT_TRUE(snapshot.ProcessInfoAvailable());
    EXPECT_EQ(Rec(0).remotePort, 0) << "the extended table's remote port is 0 when the remote starts with 0";
    EXPECT_STREQ(Rec(0).processText, "firefox-esr(100)");
    EXPECT_STREQ(Rec(1).processText, "(4242)") << "an owner that has exited shows its PID alone";

    table.hasExtended = false;
    ASSERT_EQ(Poll(), 2);
    EXPECT_EQ(Rec(0).remotePort, 80) << "the from-stack table keeps the remote port";

    table.hasFromStack = false;
    ASSERT_EQ(Poll(), 2);
    EXPECT_FALSE(snapshot.ProcessInfoAvailable());
    EXPECT_STREQ(Rec(1).processText, "") << "the plain table carries no owners";
    EXPECT_EQ(Rec(0).remotePort, 0);
}

// Rows built from the bytes the kernel hands over, so a host-order assumption shows on any machine.
TEST_F(ConnectionSnapshotTest, AddressesAndPortsAreReadInNetworkOrderFromTheirBytes) {
    auto address = [](unsigned char a, unsigned char b, unsigned char c, unsigned char d) {
        const unsigned char bytes[4] = {a, b, c, d};
        uint32_t v;
        std::memcpy(&v, bytes, sizeof v);
        return v;
    };
    auto port = [](unsigned char high, unsigned char low) {
        const unsigned char bytes[2] = {high, low};
        uint16_t v;
        std::memcpy(&v, bytes, sizeof v);
        return uint32_t{v};
    };
    table.rows().push_back(TcpRow{kTcpEstablished, address(10, 1, 2, 3), port(0x1F, 0x90),
                                  address(10, 1, 2, 0), port(0x01, 0xBB), 0});
    table.rows().push_back(TcpRow{kTcpEstablished, address(10, 1, 2, 3), port(0x00, 0x50),
                                  address(0, 1, 2, 3), port(0x01, 0xBB), 0});
    table.hasExtended = true;
    ASSERT_EQ(Poll(), 2);
    EXPECT_STREQ(Rec(0).localAddress, "10.1.2.3");
    EXPECT_STREQ(Rec(0).remoteAddress, "10.1.2.0");
    EXPECT_EQ(Rec(0).localPort, 8080);
    EXPECT_EQ(Rec(0).remotePort, 443) << "a last octet of 0 is no unconnected remote";
    EXPECT_EQ(Rec(1).localPort, 80);
    EXPECT_EQ(Rec(1).remotePort, 0) << "a first octet of 0 is";
}

TEST_F(ConnectionSnapshotTest, LongTextsAreCutButThePidIsKept) {
    std::string longName(200, 'x');
    longName.replace(120, 3, "日");  // a multi-byte character where the cut falls
    processes.processes[300] = longName;
    table.Add(kTcpEstablished, "10.0.0.1", 5000, "10.0.0.2", 80, 300);
    ASSERT_EQ(Poll(), 1);
    std::string text = Rec(0).processText;
    EXPECT_LT(text.size(), sizeof Rec(0).processText);
    EXPECT_EQ(text.substr(text.size() - 5), "(300)");
    EXPECT_EQ(text.find("\xE6\x97"), std::string::npos) << "no half character before the PID";
}

class StubHostNames : public HostNameSource {
  public:
    void LookupHostName(const char* address, char* out, size_t outSize) override {
        std::snprintf(out, outSize, "%s",
                      std::strcmp(address, "10.0.0.2") == 0 ? "server.example.co.jp" : "(10.0.0.1)");
        ++calls;
    }
    int calls = 0;
};

TEST_F(ConnectionSnapshotTest, HostNamesComeFromTheSourceWhileResolutionIsOn) {
    StubHostNames hosts;
    snapshot.SetHostNameSource(&hosts);
    table.Add(kTcpEstablished, "10.0.0.1", 5000, "10.0.0.2", 80, 100);
    ASSERT_EQ(Poll(), 1);
    EXPECT_STREQ(Rec(0).remoteHost, "server.example.co.jp");
    EXPECT_STREQ(Rec(0).localHost, "(10.0.0.1)");
    EXPECT_EQ(hosts.calls, 2);
}

}  // namespace
}  // namespace varnel
