#include "autokill/InstantCut.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "AutoKillRig.h"

namespace varnel {
namespace {

// 93.184.0.1 is shop.example.com; any other address is still being looked up.
class PendingHosts : public HostNameSource {
  public:
    void LookupHostName(const char* address, char* out, size_t n) override {
        if (std::strcmp(address, "93.184.0.1") == 0)
            std::snprintf(out, n, "shop.example.com");
        else
            std::snprintf(out, n, "(%s)", address);
    }
};

ConnectEvent Event(const char* local, int localPort, const char* remote, int remotePort, uint32_t pid,
                   uint32_t state = kTcpEstablished) {
    ConnectEvent e;
    e.row.state = state;
    e.row.localAddr = FakeConnectionTable::PackAddress(local);
    e.row.remoteAddr = FakeConnectionTable::PackAddress(remote);
    e.row.localPort = htons(static_cast<uint16_t>(localPort));
    e.row.remotePort = htons(static_cast<uint16_t>(remotePort));
    e.row.owningPid = pid;
    return e;
}

int Lines(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

class InstantCutTest : public ::testing::Test, public AutoKillRig<PendingHosts> {
  protected:
    InstantCutTest() : cut(*monitor, *autokill) {}
    InstantCut cut;
};

TEST_F(InstantCutTest, ACutBetweenTicksIsCountedAndLoggedOnceWhenTheTickMeetsItAgain) {
    Rules("PORT2=80\n");
    monitor->Tick();
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50000, "93.184.0.2", 80, 77)), InstantCut::Outcome::kCut);
    ASSERT_EQ(reset.calls.size(), 1u);
    EXPECT_EQ(reset.calls[0].remotePort, htons(80));
    EXPECT_EQ(autokill->blockedCount(), 1u);
    // A second event of the same connection (SYN-RECV then ESTABLISHED) is no second block.
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50000, "93.184.0.2", 80, 77)), InstantCut::Outcome::kCut);
    // The connection outlived its reset: the next tick resets it again, as one block.
    clock.Advance(500);
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "93.184.0.2", 80, 77);
    monitor->Tick();
    EXPECT_EQ(reset.calls.size(), 3u);
    EXPECT_EQ(autokill->blockedCount(), 1u);
    EXPECT_EQ(Lines(LogFile(), "BLOCKED"), 1) << LogFile();
    EXPECT_EQ(autokill->blockLog().paneLines().size(), 1u);
}

TEST_F(InstantCutTest, AnEventAfterTheTickCutItCountsNothing) {
    Rules("PORT2=80\n");
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "93.184.0.2", 80, 77);
    monitor->Tick();
    ASSERT_EQ(autokill->blockedCount(), 1u);
    reset.answer = ResetResult{ResetStatus::kNoSuchConnection, ENOENT};
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50000, "93.184.0.2", 80, 77)), InstantCut::Outcome::kNotCut);
    EXPECT_EQ(Lines(LogFile(), "BLOCKED"), 1);
}

TEST_F(InstantCutTest, TheEventWritesTheLineTheTickWouldWrite) {
    Rules("PORT2=80\n");
    monitor->Tick();
    ASSERT_EQ(cut.OnEvent(Event("10.0.0.1", 50000, "93.184.0.1", 80, 77)), InstantCut::Outcome::kCut);
    AutoKillRig<PendingHosts> tick;
    tick.Rules("PORT2=80\n");
    tick.table.Add(kTcpEstablished, "10.0.0.1", 50000, "93.184.0.1", 80, 77);
    tick.monitor->Tick();
    ASSERT_EQ(tick.autokill->blockLog().paneLines().size(), 1u);
    ASSERT_EQ(autokill->blockLog().paneLines().size(), 1u);
    EXPECT_EQ(autokill->blockLog().paneLines()[0], tick.autokill->blockLog().paneLines()[0]);
    EXPECT_NE(autokill->blockLog().paneLines()[0].find("shop.example.com:80 curl(77)"), std::string::npos)
        << autokill->blockLog().paneLines()[0];
}

TEST_F(InstantCutTest, AHostNameNotKnownYetWaitsForTheTickOnlyWhereARuleReadsIt) {
    Rules("HOST2=.example.com\nPORT2=443\n");
    monitor->Tick();
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50000, "93.184.0.9", 80, 77)), InstantCut::Outcome::kWaitsForTick);
    EXPECT_TRUE(reset.calls.empty());
    // Known name: cut at once.
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50001, "93.184.0.1", 80, 77)), InstantCut::Outcome::kCut);
    // A pending name on a port rule below the host rule: the host rule could have matched first.
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50002, "93.184.0.9", 443, 77)), InstantCut::Outcome::kWaitsForTick);
    Rules("PORT2=443\nHOST2=.example.com\n");
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50002, "93.184.0.9", 443, 77)), InstantCut::Outcome::kCut);
    EXPECT_EQ(reset.calls.size(), 2u);
    EXPECT_EQ(cut.counts().waited, 2u);
}

TEST_F(InstantCutTest, AProcessRuleWaitsForAnOwnerTheEventDoesNotName) {
    Rules("PID=curl\n");
    table.Add(kTcpEstablished, "10.0.0.1", 50001, "93.184.0.2", 80, 77);
    monitor->Tick();  // cuts 50001 and remembers its owner
    reset.calls.clear();
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50000, "93.184.0.2", 80, 0)), InstantCut::Outcome::kWaitsForTick);
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50000, "93.184.0.2", 80, 4242)), InstantCut::Outcome::kWaitsForTick)
        << "a PID no process bears has no name yet";
    EXPECT_TRUE(reset.calls.empty());
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50000, "93.184.0.2", 80, 77)), InstantCut::Outcome::kCut);
    // No owner in the event, but the last poll named it.
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50001, "93.184.0.2", 80, 0)), InstantCut::Outcome::kCut);
}

TEST_F(InstantCutTest, AFailedResetIsLeftForTheTickToRetryAndReport) {
    Rules("PORT2=80\n");
    monitor->Tick();
    reset.answer = ResetResult{ResetStatus::kPermissionDenied, EPERM};
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50000, "93.184.0.2", 80, 77)), InstantCut::Outcome::kNotCut);
    EXPECT_TRUE(autokill->blockLog().paneLines().empty());
    EXPECT_EQ(autokill->blockedCount(), 0u);
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "93.184.0.2", 80, 77);
    monitor->Tick();
    monitor->Tick();
    ASSERT_EQ(autokill->blockLog().paneLines().size(), 1u);
    EXPECT_NE(autokill->blockLog().paneLines()[0].find("NOT BLOCKED"), std::string::npos);
}

TEST_F(InstantCutTest, EventsTheTickWouldNotJudgeNowAreIgnored) {
    Rules("NOLOG=1\n");
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50000, "93.184.0.2", 80, 77)), InstantCut::Outcome::kIgnored)
        << "before the first poll";
    monitor->Tick();
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 0, "93.184.0.2", 80, 77, kTcpSynSent)), InstantCut::Outcome::kIgnored)
        << "no local port yet";
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50000, "93.184.0.2", 80, 77, kTcpTimeWait)),
              InstantCut::Outcome::kIgnored);
    autokill->SetEnabled(false);
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50000, "93.184.0.2", 80, 77)), InstantCut::Outcome::kIgnored);
    autokill->SetEnabled(true);
    monitor->Stop();
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50000, "93.184.0.2", 80, 77)), InstantCut::Outcome::kIgnored);
    EXPECT_TRUE(reset.calls.empty());
    monitor->Start();
    // Half-closed: judged as established, as the tick judges it.
    EXPECT_EQ(cut.OnEvent(Event("10.0.0.1", 50000, "93.184.0.2", 80, 77, kTcpCloseWait)), InstantCut::Outcome::kCut);
}

}  // namespace
}  // namespace varnel
