// IPv6 connections in the session layer: their texts, whether the list stores them (ShowIPv6) and
// their ages.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"
#include "session/AddressText.h"
#include "session/ConnectionSnapshot.h"

namespace varnel {
namespace {

TEST(AddressTextTest, Ip6TextsAreTheCanonicalForm) {
    struct Case {
        const char* in;
        const char* canonical;
    } cases[] = {
        {"::1", "::1"},
        {"0:0:0:0:0:0:0:0", "::"},
        {"2001:0DB8:0000:0000:0000:0000:0000:0001", "2001:db8::1"},
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},     // the first of two equal runs
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},  // one zero group is never "::"
        {"fe80:0:0:0:0:0:0:ab", "fe80::ab"},
        {"::ffff:c000:0201", "::ffff:192.0.2.1"},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
    };
    for (const Case& c : cases) {
        Ip6Address a;
        ASSERT_TRUE(AddressText::ParseIp6(c.in, a)) << c.in;
        char text[AddressText::kSize];
        EXPECT_EQ(AddressText::FormatIp6(a, text), std::strlen(c.canonical));
        EXPECT_STREQ(text, c.canonical);
    }
    // The longest text either family can give fits the record's field.
    Ip6Address a;
    ASSERT_TRUE(AddressText::ParseIp6("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255", a));
    char text[AddressText::kSize];
    AddressText::FormatIp6(a, text);
    EXPECT_LT(std::strlen(text), static_cast<size_t>(SessionRecord::kAddressSize));
}

TEST(AddressTextTest, TextsThatAreNoIp6AddressGiveTheUnspecifiedOne) {
    for (const char* bad : {"", "10.0.0.1", "(::1)", "::1 ", "1:2:3:4:5:6:7:8:9", "2001:db8::g", ":::"}) {
        Ip6Address a;
        std::memset(a.bytes, 0xAB, sizeof a.bytes);
        EXPECT_FALSE(AddressText::ParseIp6(bad, a)) << bad;
        EXPECT_TRUE(a.IsUnspecified()) << bad;
    }
    EXPECT_TRUE(AddressText::IsIp6Text("::1"));
    EXPECT_FALSE(AddressText::IsIp6Text("10.0.0.1"));
    EXPECT_FALSE(AddressText::IsIp6Text("(10.0.0.1)"));
}

class Ipv6SnapshotTest : public ::testing::Test {
  protected:
    Ipv6SnapshotTest() { processes.processes = {{100, "nc"}}; }

    int Poll() {
        std::memcpy(session->previous.data(), session->current.data(), sizeof session->current);
        std::memset(static_cast<void*>(session->current.data()), 0, sizeof session->current);
        return snapshot.TakeSnapshot(*session);
    }
    const SessionRecord& Rec(int i) const { return session->current[static_cast<size_t>(i)]; }

    // A table of IPv4 connections with IPv6 ones (and IPv6 listeners) between them.
    void AddMixed(bool withIpv6) {
        table.Add(kTcpEstablished, "10.0.0.1", 5000, "10.0.0.2", 80, 100);
        if (withIpv6) {
            table.Add(kTcpListen, "::", 7000, "::", 0, 100);
            table.Add(kTcpEstablished, "::1", 7000, "::1", 40000, 100);
        }
        table.Add(kTcpSynSent, "10.0.0.1", 5001, "10.0.0.3", 443, 100);
        if (withIpv6) {
            table.Add(kTcpEstablished, "2001:db8::1", 40001, "::", 0, 100);  // not connected
            table.Add(kTcpSynSent, "2001:db8::1", 40002, "2001:db8:0:0:1::9", 7000, 100);
            table.Add(kTcpTimeWait, "2001:db8::1", 40003, "2001:db8::9", 7000, 100);
        }
        table.Add(kTcpEstablished, "10.0.0.1", 5002, "10.0.0.4", 22, 100);
    }

    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    ProcessNameCache names{processes};
    ConnectionSnapshot snapshot{table, names, clock};
    std::unique_ptr<SessionTable> session = std::make_unique<SessionTable>();
};

TEST_F(Ipv6SnapshotTest, WithShowIpv6OffTheStoredRowsAreThoseOfTheTableWithoutIpv6) {
    AddMixed(false);
    clock.tick = 1000;
    ASSERT_EQ(Poll(), 3);
    auto without = std::make_unique<SessionTable>(*session);

    table.Clear();
    AddMixed(true);
    FakeProcessList otherProcesses;
    otherProcesses.processes = processes.processes;
    ProcessNameCache otherNames{otherProcesses};
    ConnectionSnapshot mixed{table, otherNames, clock};
    auto with = std::make_unique<SessionTable>();
    ASSERT_EQ(mixed.TakeSnapshot(*with), 3);
    EXPECT_EQ(std::memcmp(with->current.data(), without->current.data(), sizeof with->current), 0)
        << "every byte of the stored records is the same";

    // Auto kill still sees the two live IPv6 connections, after the shown ones, in table order.
    ASSERT_EQ(mixed.kept().size(), 5u);
    EXPECT_EQ(mixed.shownKeptCount(), 3u);
    EXPECT_FALSE(mixed.kept()[2].key.v6);
    EXPECT_TRUE(mixed.kept()[3].key.v6);
    EXPECT_EQ(mixed.kept()[3].key.localPort, 7000);
    EXPECT_EQ(mixed.kept()[4].key.localPort, 40002);
    EXPECT_EQ(mixed.kept()[4].state, uint32_t(kTcpSynSent));
    EXPECT_EQ(mixed.kept()[4].key.remote6, FakeConnectionTable::PackAddress6("2001:db8::1:0:0:9"));
    EXPECT_EQ(mixed.kept()[4].firstSeen, 1000u);
}

TEST_F(Ipv6SnapshotTest, WithShowIpv6OnIpv6ConnectionsAreRowsInTableOrder) {
    AddMixed(true);
    snapshot.SetShowIpv6(true);
    ASSERT_EQ(Poll(), 5) << "listeners, unconnected sockets and closing states are dropped as for IPv4";
    EXPECT_EQ(snapshot.shownKeptCount(), 5u);
    EXPECT_STREQ(Rec(1).localAddress, "::1");
    EXPECT_STREQ(Rec(1).remoteAddress, "::1");
    EXPECT_EQ(Rec(1).localPort, 7000);
    EXPECT_EQ(Rec(1).remotePort, 40000);
    EXPECT_STREQ(Rec(1).localHost, "::1") << "resolution off: the host is the address";
    EXPECT_STREQ(Rec(1).processText, "nc(100)");
    EXPECT_STREQ(Rec(3).remoteAddress, "2001:db8::1:0:0:9") << "the canonical form, not the one given";
    EXPECT_EQ(Rec(3).state, int32_t(kTcpSynSent));
    EXPECT_STREQ(Rec(4).remoteAddress, "10.0.0.4");
}

TEST_F(Ipv6SnapshotTest, AnIpv6ConnectionKeepsItsAgeByItsFourTupleAndOnlyByIt) {
    table.Add(kTcpSynSent, "2001:db8::1", 40000, "2001:db8::2", 7000, 100);
    table.Add(kTcpEstablished, "2001:db8::1", 40001, "2001:db8::2", 7000, 100);
    clock.tick = 1000;
    Poll();
    table.rows()[0].state = kTcpEstablished;
    table.rows()[1].remoteAddr6.bytes[15] = 3;  // another peer: another connection
    clock.tick = 1500;
    Poll();
    ASSERT_EQ(snapshot.kept().size(), 2u);
    EXPECT_EQ(snapshot.kept()[0].firstSeen, 1000u);
    EXPECT_EQ(snapshot.kept()[1].firstSeen, 1500u);

    // Switching the list to IPv6 changes no connection's identity.
    snapshot.SetShowIpv6(true);
    clock.tick = 2000;
    ASSERT_EQ(Poll(), 2);
    EXPECT_EQ(Rec(0).firstSeen, 1000u);
    EXPECT_EQ(Rec(1).firstSeen, 1500u);

    // The same ports on IPv4 addresses are another connection, whatever the bytes in common.
    const ConnectionKey sameBytesAsIpv4{0, 0, 40000, 7000};
    EXPECT_FALSE(snapshot.kept()[0].key == sameBytesAsIpv4);
    EXPECT_NE(snapshot.kept()[0].key.Hash(), snapshot.kept()[1].key.Hash());
}

TEST_F(Ipv6SnapshotTest, TheListIsFilledByShownConnectionsOnlyAndAutoKillSeesTheRest) {
    for (int i = 0; i < 650; ++i)
        table.Add(kTcpEstablished, "2001:db8::1", 10000 + i, "2001:db8::2", 80, 100);
    for (int i = 0; i < 10; ++i) table.Add(kTcpEstablished, "10.0.0.1", 20000 + i, "10.0.0.2", 80, 100);
    EXPECT_EQ(Poll(), 10);
    EXPECT_EQ(snapshot.kept().size(), 660u);
    snapshot.SetShowIpv6(true);
    EXPECT_EQ(Poll(), 600);
    EXPECT_EQ(snapshot.kept().size(), 660u);
    EXPECT_EQ(snapshot.shownKeptCount(), 660u);
}

}  // namespace
}  // namespace varnel
