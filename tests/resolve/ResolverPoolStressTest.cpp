// Many lookups, cache flushes from both sides and a shutdown with lookups in flight, meant to be
// run under ThreadSanitizer (scripts/tsan-resolver.sh).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake/FakeReverseLookup.h"
#include "platform/fake/FakeSleeper.h"
#include "resolve/ResolverPool.h"
#include "resolve/ResolverTestSupport.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;

std::string Text(size_t i) {
    return "10." + std::to_string(i / 65536 % 256) + "." + std::to_string(i / 256 % 256) + "." +
           std::to_string(i % 256);
}

TEST(ResolverPoolStressTest, ManyLookupsWithFlushesAndAShutdownInFlight) {
    auto cache = std::make_shared<HostNameCache>();
    auto lookup = std::make_shared<FakeReverseLookup>();
    auto sleeper = std::make_shared<FakeSleeper>();
    lookup->SetNameEveryAddress(true);
    auto pool = std::make_unique<ResolverPool>(cache, lookup, sleeper);

    // An observer on its own thread, as a second reader of the shared state.
    std::atomic<bool> stop{false};
    std::atomic<size_t> largest{0};
    std::thread observer([&] {
        while (!stop) {
            size_t n = cache->Size();
            if (n > largest) largest = n;
            EXPECT_LE(pool->BusySlots(), ResolverPool::kSlotCount);
            std::this_thread::yield();
        }
    });

    // Phase 1: more distinct addresses than the cache holds, taken in blocks of 64 polled until
    // each address of the block has been shown with its name; the cache has to flush itself on
    // the way.
    constexpr size_t kAddresses = HostNameCache::kMaxEntries + 300;
    constexpr size_t kBlock = 64;
    size_t namedCount = 0;
    char buf[128];
    auto deadline = std::chrono::steady_clock::now() + 60s;
    for (size_t first = 0; first < kAddresses && std::chrono::steady_clock::now() < deadline;
         first += kBlock) {
        size_t end = std::min(first + kBlock, kAddresses);
        std::vector<bool> named(end - first, false);
        size_t left = end - first;
        while (left > 0 && std::chrono::steady_clock::now() < deadline) {
            for (size_t i = first; i < end; ++i) {
                std::string text = Text(i);
                pool->LookupHostName(text.c_str(), buf, sizeof buf);
                if (buf[0] == '(') continue;
                ASSERT_EQ(buf, FakeReverseLookup::GeneratedName(FakeReverseLookup::Addr(
                                   10, static_cast<uint8_t>(i / 65536), static_cast<uint8_t>(i / 256 % 256),
                                   static_cast<uint8_t>(i % 256))));
                if (!named[i - first]) {
                    named[i - first] = true;
                    --left;
                    ++namedCount;
                }
            }
            std::this_thread::sleep_for(1ms);
        }
    }
    EXPECT_EQ(namedCount, kAddresses);
    std::string name;
    EXPECT_FALSE(cache->Find(Text(0), name)) << "the first name should have gone with a flush";

    // Phase 2: the caller's thread flushes while workers insert.
    for (int round = 0; round < 20; ++round) {
        for (size_t i = 0; i < 200; ++i) {
            std::string text = Text(10000 + round * 200 + i);
            pool->LookupHostName(text.c_str(), buf, sizeof buf);
            if (i % 50 == 0) cache->Flush();
        }
    }

    // Phase 3: shut down with every slot inside a lookup.
    ASSERT_TRUE(testing::WaitUntil([&] { return pool->BusySlots() == 0; }, 10s));
    lookup->Block();
    for (size_t i = 0; i < ResolverPool::kSlotCount; ++i) {
        std::string text = Text(20000 + i);
        pool->LookupHostName(text.c_str(), buf, sizeof buf);
    }
    ASSERT_TRUE(lookup->WaitForWaiting(ResolverPool::kSlotCount, 10s));
    stop = true;
    observer.join();
    std::weak_ptr<HostNameCache> watch = cache;
    cache.reset();
    pool.reset();
    lookup->Release();
    EXPECT_TRUE(testing::WaitUntil([&] { return watch.expired(); }, 10s));
    EXPECT_LE(largest.load(), HostNameCache::kMaxEntries);
}

}  // namespace
}  // namespace varnel
