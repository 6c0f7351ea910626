#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeReverseLookup.h"
#include "platform/fake/FakeSleeper.h"
#include "resolve/ResolverPool.h"
#include "resolve/ResolverTestSupport.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using testing::QueuedStarter;
using testing::WaitUntil;
using State = ResolverPool::SlotState;

uint32_t A(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return FakeReverseLookup::Addr(a, b, c, d);
}

class ResolverPoolTest : public ::testing::Test {
  protected:
    std::shared_ptr<HostNameCache> cache = std::make_shared<HostNameCache>();
    std::shared_ptr<FakeReverseLookup> lookup = std::make_shared<FakeReverseLookup>();
    std::shared_ptr<FakeSleeper> sleeper = std::make_shared<FakeSleeper>();
    int starts = 0;  // workers handed to the starter (the test thread alone calls LookupHostName)
    std::unique_ptr<ResolverPool> pool = MakePool();

    std::unique_ptr<ResolverPool> MakePool() {
        return std::make_unique<ResolverPool>(cache, lookup, sleeper, [this](std::function<void()> work) {
            ++starts;
            return ResolverPool::StartDetachedThread(std::move(work));
        });
    }
    std::string Ask(const char* address) {
        char buf[256];
        pool->LookupHostName(address, buf, sizeof buf);
        return buf;
    }
    bool WaitIdle() {
        return WaitUntil([&] { return pool->BusySlots() == 0; });
    }
    // Every worker must end and let go of the shared state once the pool is gone.
    void TearDown() override {
        lookup->Release();
        sleeper->Release();
        std::weak_ptr<HostNameCache> watch = cache;
        cache.reset();
        pool.reset();
        EXPECT_TRUE(WaitUntil([&] { return watch.expired(); })) << "a worker kept the pool's state alive";
    }
};

TEST_F(ResolverPoolTest, FirstCallShowsPendingTextThenTheNameFromTheCache) {
    lookup->SetNameInfo(A(93, 184, 216, 34), "www.example.test");
    EXPECT_EQ(Ask("93.184.216.34"), "(93.184.216.34)");
    EXPECT_EQ(starts, 1);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Ask("93.184.216.34"), "www.example.test");
    EXPECT_EQ(Ask("93.184.216.34"), "www.example.test");
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(lookup->nameInfoAsked(), std::vector<uint32_t>{A(93, 184, 216, 34)});
    EXPECT_EQ(lookup->hostByAddrCalls(), 0u);
    // The worker holds its slot 10 ms after storing the name.
    EXPECT_EQ(sleeper->durations(), std::vector<std::chrono::milliseconds>{10ms});
}

TEST_F(ResolverPoolTest, FailedLookupShowsThePlainAddressAndIsNotAskedAgain) {
    EXPECT_EQ(Ask("203.0.113.9"), "(203.0.113.9)");
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Ask("203.0.113.9"), "203.0.113.9");
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(lookup->nameInfoCalls(), 1u);
    EXPECT_EQ(lookup->hostByAddrCalls(), 0u);  // public address: no second try
}

TEST_F(ResolverPoolTest, TextThatIsNoDottedQuadIsNotLookedUp) {
    for (const char* text : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", "a.b.c.d", "1..2.3"}) {
        Ask(text);
        ASSERT_TRUE(WaitIdle());
        EXPECT_EQ(Ask(text), text);
    }
    EXPECT_EQ(lookup->nameInfoCalls(), 0u);
    EXPECT_EQ(lookup->hostByAddrCalls(), 0u);
}

TEST_F(ResolverPoolTest, Ipv6AddressesAreAskedOfTheIpv6LookupAndCachedAlike) {
    Ip6Address named{};
    ASSERT_EQ(inet_pton(AF_INET6, "2001:db8::5", named.bytes), 1);
    lookup->SetNameInfo6(named, "v6.example.test");
    EXPECT_EQ(Ask("2001:db8::5"), "(2001:db8::5)");
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Ask("2001:db8::5"), "v6.example.test");
    EXPECT_EQ(lookup->nameInfo6Calls(), 1u);

    // No name: the address itself, asked once; a private IPv6 address gets no second try.
    EXPECT_EQ(Ask("fd00::1"), "(fd00::1)");
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Ask("fd00::1"), "fd00::1");
    EXPECT_EQ(lookup->nameInfo6Calls(), 2u);
    EXPECT_EQ(starts, 2);

    // Texts with a colon that are no IPv6 address are not looked up.
    for (const char* text : {"2001:db8::g", ":::", "1:2:3:4:5:6:7:8:9", "::1%lo", "::1 "}) {
        Ask(text);
        ASSERT_TRUE(WaitIdle());
        EXPECT_EQ(Ask(text), text);
    }
    EXPECT_EQ(lookup->nameInfo6Calls(), 2u);
    EXPECT_EQ(lookup->nameInfoCalls(), 0u);
    EXPECT_EQ(lookup->hostByAddrCalls(), 0u);
}

TEST_F(ResolverPoolTest, PrivateAddressesGetASecondTryWithHostByAddr) {
    ASSERT_TRUE(pool->PrivateAddressFallback());  // on by default on this platform
    const char* privates[] = {"10.0.0.1", "10.255.255.254", "192.168.0.1", "172.16.0.1", "172.31.255.254"};
    const uint32_t privateAddrs[] = {A(10, 0, 0, 1), A(10, 255, 255, 254), A(192, 168, 0, 1),
                                     A(172, 16, 0, 1), A(172, 31, 255, 254)};
    for (uint32_t a : privateAddrs) lookup->SetHostByAddr(a, FakeReverseLookup::GeneratedName(a));
    for (const char* text : privates) Ask(text);
    ASSERT_TRUE(WaitIdle());
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(Ask(privates[i]), FakeReverseLookup::GeneratedName(privateAddrs[i]));
    EXPECT_EQ(lookup->hostByAddrCalls(), 5u);

    // Neighbours of the private ranges are public: no second try even with an entry waiting.
    const char* publics[] = {"11.0.0.1",    "9.255.255.255",   "172.15.255.255", "172.32.0.1",
                             "192.169.0.1", "192.167.255.255", "127.0.0.1"};
    lookup->SetHostByAddr(A(172, 32, 0, 1), "must-not-be-used.test");
    for (const char* text : publics) Ask(text);
    ASSERT_TRUE(WaitIdle());
    for (const char* text : publics) EXPECT_EQ(Ask(text), text);
    EXPECT_EQ(lookup->hostByAddrCalls(), 5u);
}

TEST_F(ResolverPoolTest, SecondTryOnlyAfterAFailureAndOnlyWithTheFlag) {
    lookup->SetNameInfo(A(10, 1, 1, 1), "dns.name.test");
    lookup->SetHostByAddr(A(10, 1, 1, 1), "hosts.name.test");
    Ask("10.1.1.1");
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Ask("10.1.1.1"), "dns.name.test");
    EXPECT_EQ(lookup->hostByAddrCalls(), 0u);

    // A failed second try keeps the address.
    Ask("10.2.2.2");
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Ask("10.2.2.2"), "10.2.2.2");
    EXPECT_EQ(lookup->hostByAddrAsked(), std::vector<uint32_t>{A(10, 2, 2, 2)});

    pool->SetPrivateAddressFallback(false);
    EXPECT_FALSE(pool->PrivateAddressFallback());
    lookup->SetHostByAddr(A(192, 168, 5, 5), "would-be.test");
    Ask("192.168.5.5");
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Ask("192.168.5.5"), "192.168.5.5");
    EXPECT_EQ(lookup->hostByAddrCalls(), 1u);
}

TEST_F(ResolverPoolTest, AllSlotsBusyStartsNothingAndTheAddressIsAskedAgainLater) {
    lookup->Block();
    for (int i = 0; i < ResolverPool::kSlotCount; ++i) {
        std::string text = "198.51.100." + std::to_string(i + 1);
        EXPECT_EQ(Ask(text.c_str()), "(" + text + ")");
    }
    EXPECT_EQ(starts, 12);
    ASSERT_TRUE(lookup->WaitForWaiting(12, 5s));
    for (int i = 0; i < ResolverPool::kSlotCount; ++i) EXPECT_EQ(pool->slotState(i), State::kRunning) << i;

    lookup->SetNameInfo(A(198, 51, 100, 200), "late.test");
    EXPECT_EQ(Ask("198.51.100.200"), "(198.51.100.200)");
    EXPECT_EQ(Ask("198.51.100.200"), "(198.51.100.200)");
    EXPECT_EQ(starts, 12);
    EXPECT_EQ(pool->BusySlots(), 12);

    lookup->Release();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Ask("198.51.100.200"), "(198.51.100.200)");  // not asked while the slots were full
    EXPECT_EQ(starts, 13);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Ask("198.51.100.200"), "late.test");
}

TEST_F(ResolverPoolTest, TakesTheLowestFreeSlotAndAtMostOneWorkerPerCall) {
    QueuedStarter queue;
    pool = std::make_unique<ResolverPool>(cache, lookup, sleeper,
                                          [&](std::function<void()> w) { return queue.Start(std::move(w)); });
    Ask("192.0.2.1");
    Ask("192.0.2.2");
    Ask("192.0.2.3");
    ASSERT_EQ(queue.size(), 3u);
    EXPECT_EQ(pool->slotState(0), State::kAssigned);
    EXPECT_EQ(pool->slotState(1), State::kAssigned);
    EXPECT_EQ(pool->slotState(2), State::kAssigned);
    EXPECT_EQ(pool->slotState(3), State::kFree);

    queue.Run(1);  // frees slot 1
    EXPECT_EQ(pool->slotState(1), State::kFree);
    Ask("192.0.2.4");
    EXPECT_EQ(pool->slotState(1), State::kAssigned);
    EXPECT_EQ(pool->slotState(3), State::kFree);
    EXPECT_EQ(queue.size(), 4u);
    for (size_t i : {0, 2, 3}) queue.Run(i);
    EXPECT_EQ(pool->BusySlots(), 0);
    EXPECT_EQ(cache->Size(), 4u);
}

TEST_F(ResolverPoolTest, RunningSlotWithTheSameAddressStartsNothing) {
    lookup->Block();
    Ask("10.9.8.7");
    ASSERT_TRUE(lookup->WaitForWaiting(1, 5s));
    ASSERT_EQ(pool->slotState(0), State::kRunning);
    EXPECT_EQ(Ask("10.9.8.7"), "(10.9.8.7)");
    EXPECT_EQ(starts, 1);
    Ask("10.9.8.6");
    EXPECT_EQ(starts, 2);
}

TEST_F(ResolverPoolTest, DuplicateTestIgnoresCase) {
    // A text that is no dotted quad is stored at once; parking the worker at its sleep keeps its
    // slot Running with that text while the cache (whose keys compare exactly) misses the other case.
    sleeper->Block();
    Ask("gateway.lan");
    ASSERT_TRUE(sleeper->WaitForWaiting(1, 5s));
    ASSERT_EQ(pool->slotState(0), State::kRunning);
    EXPECT_EQ(Ask("GATEWAY.LAN"), "(GATEWAY.LAN)");
    EXPECT_EQ(starts, 1);
    Ask("gateway.lao");
    EXPECT_EQ(starts, 2);
}

TEST_F(ResolverPoolTest, AnAddressWaitingForItsWorkerTakesNoSecondSlot) {
    QueuedStarter queue;
    pool = std::make_unique<ResolverPool>(cache, lookup, sleeper,
                                          [&](std::function<void()> w) { return queue.Start(std::move(w)); });
    Ask("192.0.2.50");
    Ask("192.0.2.50");
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(pool->slotState(0), State::kAssigned);
    EXPECT_EQ(pool->slotState(1), State::kFree);

    lookup->SetNameInfo(A(192, 0, 2, 50), "first.test");
    queue.Run(0);
    EXPECT_EQ(Ask("192.0.2.50"), "first.test");
    EXPECT_EQ(lookup->nameInfoCalls(), 1u);
}

// A lookup that does not answer gives its slot up after two seconds and counts as failed; an
// answer that comes later still brings a name.
TEST_F(ResolverPoolTest, AHangingLookupFreesItsSlotWithinTwoSeconds) {
    auto clock = std::make_shared<FakeClock>();
    pool = std::make_unique<ResolverPool>(cache, lookup, sleeper, ResolverPool::StartDetachedThread, clock);
    lookup->Block();
    for (int i = 0; i < ResolverPool::kSlotCount; ++i) Ask(("198.51.100." + std::to_string(i + 1)).c_str());
    ASSERT_TRUE(lookup->WaitForWaiting(12, 5s));
    clock->Advance(ResolverPool::kLookupTimeoutMs - 1);
    lookup->SetNameInfo(A(198, 51, 100, 200), "prompt.test");
    Ask("198.51.100.200");
    EXPECT_EQ(pool->BusySlots(), 12);
    EXPECT_EQ(lookup->nameInfoCalls(), 12u) << "no slot free yet";

    clock->Advance(1);
    EXPECT_EQ(Ask("198.51.100.200"), "(198.51.100.200)");
    EXPECT_EQ(Ask("198.51.100.1"), "198.51.100.1") << "judged failed";
    lookup->SetNameInfo(A(198, 51, 100, 2), "late.test");
    lookup->Release();
    EXPECT_TRUE(WaitUntil([&] { return Ask("198.51.100.200") == "prompt.test"; }));
    EXPECT_TRUE(WaitUntil([&] { return Ask("198.51.100.2") == "late.test"; }));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Ask("198.51.100.3"), "198.51.100.3") << "a late failure changes nothing";
}

// An asynchronous lookup has a slot for every one of many hanging peers, so a name that answers
// at once is not kept waiting behind them; no thread of the pool's own is started.
TEST_F(ResolverPoolTest, HangingAsynchronousLookupsDoNotKeepOthersWaiting) {
    auto clock = std::make_shared<FakeClock>();
    lookup->SetAsynchronous(true);
    pool = std::make_unique<ResolverPool>(cache, lookup, sleeper, ResolverPool::StartDetachedThread, clock);
    EXPECT_EQ(pool->slotCount(), ResolverPool::kAsyncSlotCount);
    for (int i = 1; i <= 60; ++i) Ask(("203.0.113." + std::to_string(i)).c_str());
    Ask("203.0.113.61");
    Ask("203.0.113.61");
    ASSERT_EQ(lookup->begun(), 61u);
    EXPECT_EQ(pool->slotState(0), State::kRunning);
    lookup->Answer(60, true, "hosts.test");
    EXPECT_EQ(Ask("203.0.113.61"), "hosts.test");
    EXPECT_EQ(pool->BusySlots(), 60);

    clock->Advance(ResolverPool::kLookupTimeoutMs);
    Ask("203.0.113.62");
    EXPECT_EQ(pool->BusySlots(), 1);
    EXPECT_EQ(Ask("203.0.113.1"), "203.0.113.1");
    lookup->Answer(1, true, "late.test");
    EXPECT_EQ(Ask("203.0.113.2"), "late.test");
    lookup->Answer(61, false, "");
    EXPECT_EQ(Ask("203.0.113.62"), "203.0.113.62");
    EXPECT_EQ(pool->BusySlots(), 0);
    EXPECT_EQ(starts, 0);
}

TEST_F(ResolverPoolTest, InsertionIntoAFullCacheLeavesOnlyTheNewName) {
    for (int i = 0; i < 2048; ++i) cache->Insert("k" + std::to_string(i), "v");
    lookup->SetNameInfo(A(198, 18, 0, 1), "bench.test");
    Ask("198.18.0.1");
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(cache->Size(), 1u);
    EXPECT_EQ(Ask("198.18.0.1"), "bench.test");
}

TEST_F(ResolverPoolTest, FlushMakesNamesPendingAgain) {
    lookup->SetNameInfo(A(192, 0, 2, 7), "seven.test");
    Ask("192.0.2.7");
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(Ask("192.0.2.7"), "seven.test");
    cache->Flush();
    EXPECT_EQ(Ask("192.0.2.7"), "(192.0.2.7)");
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Ask("192.0.2.7"), "seven.test");
    EXPECT_EQ(lookup->nameInfoCalls(), 2u);
}

TEST_F(ResolverPoolTest, OutputIsCutAtACharacterBoundary) {
    cache->Insert("192.0.2.8", "\xE6\x97\xA5\xE6\x9C\xAC.test");  // "日本.test"
    char small[5];
    pool->LookupHostName("192.0.2.8", small, sizeof small);
    EXPECT_STREQ(small, "\xE6\x97\xA5");
    pool->LookupHostName("192.0.2.99", small, sizeof small);
    EXPECT_STREQ(small, "(192");
    // No room at all: nothing written, but the lookup still starts.
    char untouched = 'x';
    pool->LookupHostName("192.0.2.100", &untouched, 0);
    EXPECT_EQ(untouched, 'x');
    EXPECT_EQ(starts, 2);
}

TEST_F(ResolverPoolTest, AFailedThreadStartFreesTheSlot) {
    bool fail = true;
    int attempts = 0;
    pool = std::make_unique<ResolverPool>(cache, lookup, sleeper, [&](std::function<void()> w) {
        ++attempts;
        if (fail) return false;
        return ResolverPool::StartDetachedThread(std::move(w));
    });
    EXPECT_EQ(Ask("192.0.2.9"), "(192.0.2.9)");
    EXPECT_EQ(pool->BusySlots(), 0);
    fail = false;
    Ask("192.0.2.9");
    EXPECT_EQ(attempts, 2);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Ask("192.0.2.9"), "192.0.2.9");
}

TEST_F(ResolverPoolTest, AThrowingStarterFreesTheSlot) {
    pool = std::make_unique<ResolverPool>(cache, lookup, sleeper, [](std::function<void()>) -> bool {
        throw std::runtime_error("no threads");
    });
    EXPECT_EQ(Ask("192.0.2.10"), "(192.0.2.10)");
    EXPECT_EQ(pool->BusySlots(), 0);
}

// Runs `stop` on another thread and reports whether it returned within two seconds; the lookups
// stay blocked meanwhile, so a stop that waited for them would not.
bool ReturnsPromptly(const std::function<void()>& stop) {
    auto done = std::async(std::launch::async, stop);
    return done.wait_for(2s) == std::future_status::ready;
}

TEST_F(ResolverPoolTest, ShutdownWithLookupsInFlightReturnsAtOnceAndDropsTheirResults) {
    lookup->SetNameEveryAddress(true);
    lookup->Block();
    for (int i = 0; i < ResolverPool::kSlotCount; ++i) Ask(("192.0.2." + std::to_string(i + 1)).c_str());
    ASSERT_TRUE(lookup->WaitForWaiting(12, 5s));

    bool prompt = ReturnsPromptly([&] { pool->Shutdown(); });
    lookup->Release();  // unblock before asserting so a failure cannot hang the run
    ASSERT_TRUE(prompt);
    EXPECT_TRUE(WaitUntil([&] { return lookup->finishedCalls() == 12; }));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(cache->Size(), 0u);  // nothing stored after Shutdown
    EXPECT_TRUE(sleeper->durations().empty());

    // After Shutdown the cache still answers, but nothing new is started.
    cache->Insert("192.0.2.1", "kept.test");
    EXPECT_EQ(Ask("192.0.2.1"), "kept.test");
    EXPECT_EQ(Ask("192.0.2.200"), "(192.0.2.200)");
    EXPECT_EQ(starts, 12);
    pool->Shutdown();  // repeating it is harmless
}

TEST_F(ResolverPoolTest, DestroyingThePoolWithLookupsInFlightIsSafe) {
    lookup->SetNameEveryAddress(true);
    lookup->Block();
    for (int i = 0; i < ResolverPool::kSlotCount; ++i) Ask(("192.0.2." + std::to_string(i + 1)).c_str());
    ASSERT_TRUE(lookup->WaitForWaiting(12, 5s));

    std::weak_ptr<HostNameCache> watch = cache;
    cache.reset();
    bool prompt = ReturnsPromptly([&] { pool.reset(); });
    EXPECT_FALSE(watch.expired());  // the blocked workers still hold the state
    lookup->Release();
    ASSERT_TRUE(prompt);
    // Each worker finishes its lookup against the state it holds and the last one frees it.
    EXPECT_TRUE(WaitUntil([&] { return watch.expired(); }));
    EXPECT_EQ(lookup->finishedCalls(), 12u);
}

}  // namespace
}  // namespace varnel
