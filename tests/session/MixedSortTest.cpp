// The sort with IPv6 rows beside IPv4 ones: address keys wide enough for every IPv6 text, IPv4
// rows in the order they always had, ties by the four-tuple.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"
#include "session/Collation.h"
#include "session/SessionMonitor.h"
#include "session/SessionSorter.h"

namespace varnel {
namespace {

// Sort keys and order with both versions in one list.
class MixedSortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        table.Add(kTcpEstablished, "10.0.0.1", 5000, "10.0.0.20", 80, 1);
        table.Add(kTcpEstablished, "2001:db8::1", 5001, "2001:db8::20", 80, 1);
        table.Add(kTcpEstablished, "10.0.0.1", 5002, "9.9.9.9", 81, 1);
        table.Add(kTcpEstablished, "2001:db8::1", 5003, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe", 79, 1);
        table.Add(kTcpEstablished, "::1", 5004, "::1", 82, 1);
        table.Add(kTcpEstablished, "2001:db8::1", 5005, "2001:db8::20", 80, 1);  // ties with 5001
        monitor.SetShowIpv6(true);
        monitor.Start();
        monitor.Tick();
    }
    // Sorts ascending by `column`.
    std::vector<std::string> Ascending(int column) {
        monitor.OnColumnClick(column);
        if (monitor.sorter().sortDescending()) monitor.OnColumnClick(column);
        std::vector<std::string> out;
        for (int i = 0; i < monitor.listCount(); ++i)
            out.emplace_back(std::string(monitor.Row(i)[column]) + "/" + monitor.Row(i)[kColLocalPort]);
        return out;
    }

    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    SessionMonitor monitor{table, processes, clock, UiLanguage::English()};
};

TEST_F(MixedSortTest, AddressColumnsOrderBothVersionsAsTextsWithTiesByFourTuple) {
    ASSERT_EQ(monitor.listCount(), 6);
    // Punctuation before digits before letters; equal texts by the four-tuple (the local port).
    const std::vector<std::string> expected = {
        "::1/5004",          "10.0.0.20/5000", "2001:db8::20/5001",
        "2001:db8::20/5005", "9.9.9.9/5002",   "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe/5003"};
    EXPECT_EQ(Ascending(kColRemoteAddress), expected);
    // The table in another order sorts the same.
    std::reverse(table.rows().begin(), table.rows().end());
    monitor.Tick();
    EXPECT_EQ(Ascending(kColRemoteAddress), expected);
    // The port column orders by number whatever the version.
    const std::vector<std::string> ports = {"79/5003", "80/5000", "80/5001", "80/5005", "81/5002", "82/5004"};
    EXPECT_EQ(Ascending(kColRemotePort), ports);
}

TEST_F(MixedSortTest, AddressFieldsAreWideEnoughForTheLongestIpv6Text) {
    EXPECT_EQ(std::strlen("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255"),
              static_cast<size_t>(SessionSorter::kIpv6AddressWidth));
    EXPECT_EQ(SessionSorter::AddressWidth(monitor.table()), SessionSorter::kIpv6AddressWidth);
    SessionRecord longest{};
    std::strcpy(longest.remoteAddress, "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255");
    longest.remotePort = 1;
    SessionRecord shorter = longest;
    std::strcpy(shorter.remoteAddress, "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.25");
    shorter.remotePort = 2;
    for (int column : {0, 2, 3, 6, 7, 8}) {
        char a[SessionRecord::kSortKeySize], b[SessionRecord::kSortKeySize];
        const int la = SessionSorter::FormatColumnKey(longest, column, 0, a, sizeof a,
                                                      SessionSorter::AddressWidth(monitor.table()));
        const int lb = SessionSorter::FormatColumnKey(shorter, column, 0, b, sizeof b,
                                                      SessionSorter::AddressWidth(monitor.table()));
        EXPECT_EQ(la, lb) << "fields line up, column " << column;
        EXPECT_LE(la, SessionSorter::kMaxKeyLength) << column;
    }
    // Column 3: the address decides before the port, so the shorter text comes first although its
    // port is larger.
    char a[SessionRecord::kSortKeySize], b[SessionRecord::kSortKeySize];
    SessionSorter::FormatColumnKey(longest, 3, 0, a, sizeof a, SessionSorter::kIpv6AddressWidth);
    SessionSorter::FormatColumnKey(shorter, 3, 0, b, sizeof b, SessionSorter::kIpv6AddressWidth);
    EXPECT_GT(CompareSortKeys(a, b), 0);
}

TEST(SortWidthTest, Ipv4RowsOrderAlikeAtEitherWidthAndATableOfThemKeepsTheNarrowOne) {
    const char* addresses[] = {"1.1.1.1", "10.0.0.1", "10.0.0.10", "255.255.255.255", "9.9.9.9", "100.1.1.1"};
    for (const char* x : addresses) {
        for (const char* y : addresses) {
            SessionRecord a{}, b{};
            std::strcpy(a.remoteAddress, x);
            std::strcpy(b.remoteAddress, y);
            a.remotePort = 80;
            b.remotePort = 443;
            for (int column : {0, 3, 6}) {
                char ka[256], kb[256], wa[256], wb[256];
                SessionSorter::FormatColumnKey(a, column, 0, ka, 256, SessionSorter::kIpv4AddressWidth);
                SessionSorter::FormatColumnKey(b, column, 0, kb, 256, SessionSorter::kIpv4AddressWidth);
                SessionSorter::FormatColumnKey(a, column, 0, wa, 256, SessionSorter::kIpv6AddressWidth);
                SessionSorter::FormatColumnKey(b, column, 0, wb, 256, SessionSorter::kIpv6AddressWidth);
                const int narrow = CompareSortKeys(ka, kb), wide = CompareSortKeys(wa, wb);
                EXPECT_EQ((narrow > 0) - (narrow < 0), (wide > 0) - (wide < 0))
                    << x << " " << y << " " << column;
            }
        }
    }
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    SessionMonitor monitor{table, processes, clock, UiLanguage::English()};
    table.Add(kTcpEstablished, "10.0.0.1", 5000, "10.0.0.2", 80, 1);
    table.Add(kTcpEstablished, "2001:db8::1", 5001, "2001:db8::2", 80, 1);
    monitor.Start();
    monitor.Tick();
    EXPECT_EQ(SessionSorter::AddressWidth(monitor.table()), SessionSorter::kIpv4AddressWidth)
        << "an IPv6 connection the list does not show does not widen the keys";
    monitor.SetShowIpv6(true);
    monitor.Tick();
    EXPECT_EQ(SessionSorter::AddressWidth(monitor.table()), SessionSorter::kIpv6AddressWidth);
}

}  // namespace
}  // namespace varnel
