// Auto kill on IPv6 connections: the same rules, verdicts, resets, counts and reports as for IPv4,
// whether or not the list shows IPv6.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "autokill/AutoKill.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionReset.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"
#include "AutoKillRig.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

// Names 2001:db8::80 and 2001:db8::81; every other address is pending.
class StubHosts : public HostNameSource {
  public:
    void LookupHostName(const char* address, char* out, size_t n) override {
        if (std::strcmp(address, "2001:db8::80") == 0)
            std::snprintf(out, n, "shop.example.com");
        else if (std::strcmp(address, "2001:db8::81") == 0)
            std::snprintf(out, n, "ads.example.net");
        else
            std::snprintf(out, n, "(%s)", address);
        asked.emplace_back(address);
    }
    std::vector<std::string> asked;
};

class AutoKillIpv6Test : public ::testing::TestWithParam<bool>, public AutoKillRig<StubHosts> {
  protected:
    AutoKillIpv6Test() : AutoKillRig(GetParam()) {}

    // The remote texts of the resets asked for, sorted (the shown rows go in display order).
    std::vector<std::string> ResetRemotes() {
        std::vector<std::string> out;
        for (const TcpRow& r : reset.calls) {
            char text[INET6_ADDRSTRLEN];
            if (r.v6)
                inet_ntop(AF_INET6, r.remoteAddr6.bytes, text, sizeof text);
            else
                inet_ntop(AF_INET, &r.remoteAddr, text, sizeof text);
            out.emplace_back(text);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_P(AutoKillIpv6Test, APortRuleCutsAnIpv6ConnectionWithAnExactIpv6Request) {
    // Only IPv6 connections: nothing to show while ShowIPv6 is off, but the rules still apply.
    table.Add(kTcpListen, "::", 7000, "::", 0, 77);
    table.Add(kTcpEstablished, "::1", 7000, "::1", 40000, 77);
    table.Add(kTcpEstablished, "::1", 40000, "::1", 7000, 77);
    table.Add(kTcpSynSent, "2001:db8::1", 40001, "2001:db8::7", 7000, 77);
    table.Add(kTcpEstablished, "2001:db8::1", 40002, "2001:db8::7", 7001, 77);
    Rules("PORT2=7000\n");
    monitor->Tick();
    EXPECT_EQ(monitor->listCount(), GetParam() ? 4 : 0);
    ASSERT_EQ(reset.calls.size(), 2u) << "the client of ::1 and the one being opened; never the listener";
    const TcpRow* byPort[2] = {nullptr, nullptr};
    for (const TcpRow& r : reset.calls)
        byPort[ntohs(static_cast<uint16_t>(r.localPort)) == 40000 ? 0 : 1] = &r;
    ASSERT_NE(byPort[0], nullptr);
    ASSERT_NE(byPort[1], nullptr);
    for (const TcpRow* r : byPort) {
        EXPECT_TRUE(r->v6);
        EXPECT_EQ(r->state, uint32_t(kTcpDeleteTcb));
        EXPECT_EQ(r->localAddr, 0u);
        EXPECT_EQ(r->remoteAddr, 0u);
        EXPECT_EQ(r->remotePort, htons(7000));
    }
    EXPECT_EQ(byPort[0]->localAddr6, FakeConnectionTable::PackAddress6("::1"));
    EXPECT_EQ(byPort[0]->remoteAddr6, FakeConnectionTable::PackAddress6("::1"));
    EXPECT_EQ(byPort[1]->localAddr6, FakeConnectionTable::PackAddress6("2001:db8::1"));
    EXPECT_EQ(byPort[1]->remoteAddr6, FakeConnectionTable::PackAddress6("2001:db8::7"));
    EXPECT_EQ(autokill->blockedCount(), 2u);
    const std::string file = LogFile();
    EXPECT_NE(file.find("(::1):40000 (::1):7000 curl(77)\r\n"), std::string::npos) << file;
    EXPECT_NE(file.find("(2001:db8::1):40001 (2001:db8::7):7000 curl(77)\r\n"), std::string::npos) << file;
    EXPECT_EQ(autokill->blockLog().paneLines().size(), 2u);
}

TEST_P(AutoKillIpv6Test, AddressRulesArePrefixesOfTheCanonicalTextAndSlashesContain) {
    table.Add(kTcpEstablished, "2001:db8::1", 40001, "2001:db8::7", 443, 77);
    table.Add(kTcpEstablished, "2001:db8::1", 40002, "2001:db80::7", 443, 77);
    table.Add(kTcpEstablished, "2001:db8::1", 40003, "2001:0db8:0:0:0:0:0:9", 443, 77);
    table.Add(kTcpEstablished, "10.0.0.1", 40004, "192.0.2.1", 443, 77);
    Rules("IP2=2001:db8:\n");
    monitor->Tick();
    EXPECT_EQ(ResetRemotes(), (std::vector<std::string>{"2001:db8::7", "2001:db8::9"}))
        << "2001:db80:: is no prefix match, 2001:0db8:... is matched through its canonical text";

    reset.calls.clear();
    Rules("IP2=/::7/\n");
    monitor->Tick();
    EXPECT_EQ(ResetRemotes(), (std::vector<std::string>{"2001:db80::7", "2001:db8::7"}));

    // An IP1 rule reads the local text; a pattern as written in another form matches nothing.
    reset.calls.clear();
    Rules("IP1=2001:DB8::1\nIP2=2001:0db8:\n");
    monitor->Tick();
    EXPECT_TRUE(reset.calls.empty());
    Rules("IP1=2001:db8::1\n");
    monitor->Tick();
    EXPECT_EQ(reset.calls.size(), 3u);
}

TEST_P(AutoKillIpv6Test, HostRulesUseTheNamesOfTheIpv6Addresses) {
    table.Add(kTcpEstablished, "2001:db8::1", 40001, "2001:db8::80", 443, 77);
    table.Add(kTcpEstablished, "2001:db8::1", 40002, "2001:db8::81", 443, 77);
    table.Add(kTcpEstablished, "2001:db8::1", 40003, "2001:db8::82", 443, 77);  // name pending
    Rules("HOST2=.example.net\n");
    monitor->Tick();
    EXPECT_EQ(ResetRemotes(), (std::vector<std::string>{"2001:db8::81"}));
    EXPECT_NE(std::find(hosts.asked.begin(), hosts.asked.end(), "2001:db8::82"), hosts.asked.end())
        << "the name of every address is asked for";
    EXPECT_NE(LogFile().find("ads.example.net:443"), std::string::npos) << LogFile();

    // An exemption by name protects an IPv6 connection as it does an IPv4 one.
    reset.calls.clear();
    Rules("ALLOW=1,HOST2=shop.example.com\nPORT2=443\n");
    monitor->Tick();
    EXPECT_EQ(ResetRemotes(), (std::vector<std::string>{"2001:db8::81"})) << "::80 allowed, ::82 may be";
}

TEST_P(AutoKillIpv6Test, AFailedIpv6ResetIsReportedOnceWithItsAddressesInBrackets) {
    table.Add(kTcpEstablished, "2001:db8::1", 40001, "2001:db8::80", 8080, 77);
    table.Add(kTcpEstablished, "10.0.0.1", 40001, "10.0.0.2", 8080, 77);  // same ports, IPv4
    reset.answer = {ResetStatus::kPermissionDenied, EPERM};
    std::vector<std::string> failures;
    autokill->SetFailureListener([&](const std::string& line) { failures.push_back(line); });
    Rules("PORT2=8080\n");
    for (int i = 0; i < 3; ++i) monitor->Tick();
    EXPECT_EQ(reset.calls.size(), 6u) << "retried while the rule matches";
    ASSERT_EQ(failures.size(), 2u) << "once per connection: the two are told apart by their addresses";
    std::string all = failures[0] + "\n" + failures[1];
    EXPECT_NE(all.find("NOT BLOCKED [2001:db8::1]:40001 [2001:db8::80]:8080 curl(77): permission denied"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("NOT BLOCKED 10.0.0.1:40001 10.0.0.2:8080 curl(77)"), std::string::npos) << all;
    EXPECT_EQ(autokill->blockedCount(), 0u);
}

// The kill pass and Kill Session (KillRow on the rows taken when it was chosen) reset the exact
// four-tuple of the connection, whatever its texts: the longest IPv6 text, and texts cut to a
// column's width that would read back as another address and port, or as none.
TEST_P(AutoKillIpv6Test, ResetsAreAimedByTheConnectionNotByItsTexts) {
    const char* const longest = "2001:db8:ffff:ffff:ffff:ffff:ffff:fffe";
    table.Add(kTcpEstablished, longest, 40001, "2001:db8::7", 7000, 77);
    table.Add(kTcpEstablished, "10.0.0.1", 40002, "192.0.2.1", 7000, 77);
    auto expectRequest = [](const TcpRow& got, const KeptConnection& k) {
        const ConnectionKey seen{got.localAddr, got.remoteAddr, ntohs(uint16_t(got.localPort)),
                                 ntohs(uint16_t(got.remotePort)), got.v6, got.localAddr6, got.remoteAddr6};
        EXPECT_EQ(got.state, uint32_t(kTcpDeleteTcb));
        EXPECT_TRUE(seen == k.key);
    };
    Rules("PORT2=7000\n");
    monitor->Tick();
    ASSERT_EQ(reset.calls.size(), 2u);
    for (const TcpRow& got : reset.calls) {
        const auto& kept = monitor->kept();
        auto k = std::find_if(kept.begin(), kept.end(), [&](const KeptConnection& c) {
            return htons(c.key.localPort) == got.localPort;
        });
        ASSERT_NE(k, kept.end());
        expectRequest(got, *k);
    }
    if (!GetParam()) {
        EXPECT_EQ(reset.calls[1].localAddr6, FakeConnectionTable::PackAddress6(longest)) << "unshown: last";
    }

    Rules("");
    reset.calls.clear();
    monitor->Tick();
    ASSERT_TRUE(reset.calls.empty());
    for (int i = 0; i < monitor->listCount(); ++i) {
        SessionRow row = monitor->Row(i);
        row.text[kColLocalAddress][12] = '\0';  // "2001:db8:fff", "10.0.0.1"
        row.text[kColRemoteAddress][5] = '\0';  // "2001:", "192.0"
        row.text[kColLocalPort][1] = '\0';
        row.text[kColRemotePort][0] = '\0';
        EXPECT_TRUE(autokill->KillRow(row).ok());
        ASSERT_EQ(reset.calls.size(), size_t(i) + 1);
        expectRequest(reset.calls.back(), monitor->Connection(i));
    }
    EXPECT_EQ(monitor->listCount(), GetParam() ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(ShowIpv6, AutoKillIpv6Test, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Shown" : "Hidden";
                         });

TEST(AutoKillRequestTest, AKeyGivesTheRequestOfItsFamily) {
    ConnectionKey key;
    key.v6 = true;
    key.local6 = FakeConnectionTable::PackAddress6("2001:db8::1");
    key.remote6 = FakeConnectionTable::PackAddress6("::1");
    key.localPort = 7000;
    key.remotePort = 40000;
    TcpRow r = AutoKill::ResetRequestFor(key);
    EXPECT_TRUE(r.v6);
    EXPECT_EQ(r.state, uint32_t(kTcpDeleteTcb));
    EXPECT_EQ(r.localAddr6, FakeConnectionTable::PackAddress6("2001:db8::1"));
    EXPECT_EQ(r.remoteAddr6, FakeConnectionTable::PackAddress6("::1"));
    EXPECT_EQ(r.localAddr, 0u);
    EXPECT_EQ(r.localPort, htons(7000));
    EXPECT_EQ(r.remotePort, htons(40000));
}

}  // namespace
}  // namespace varnel
