#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "resolve/HostNameCache.h"

namespace varnel {
namespace {

std::string Key(size_t i) {
    return "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
           std::to_string(i % 256);
}

TEST(HostNameCacheTest, InsertFindReplaceAndFlush) {
    HostNameCache cache;
    std::string name;
    EXPECT_FALSE(cache.Find("1.2.3.4", name));
    cache.Insert("1.2.3.4", "one.test");
    cache.Insert("5.6.7.8", "5.6.7.8");  // a failed lookup stores the address itself
    ASSERT_TRUE(cache.Find("1.2.3.4", name));
    EXPECT_EQ(name, "one.test");
    cache.Insert("1.2.3.4", "again.test");
    ASSERT_TRUE(cache.Find("1.2.3.4", name));
    EXPECT_EQ(name, "again.test");
    EXPECT_EQ(cache.Size(), 2u);
    // Keys compare exactly.
    cache.Insert("host-a", "x");
    EXPECT_FALSE(cache.Find("HOST-A", name));

    cache.Flush();
    EXPECT_EQ(cache.Size(), 0u);
    EXPECT_FALSE(cache.Find("1.2.3.4", name));
}

TEST(HostNameCacheTest, InsertionIntoAFullCacheLeavesExactlyOneEntry) {
    HostNameCache cache;
    for (size_t i = 0; i < HostNameCache::kMaxEntries; ++i) cache.Insert(Key(i), "n" + std::to_string(i));
    EXPECT_EQ(cache.Size(), 2048u);
    std::string name;
    ASSERT_TRUE(cache.Find(Key(2047), name));

    cache.Insert("192.168.1.1", "router.test");
    EXPECT_EQ(cache.Size(), 1u);
    EXPECT_FALSE(cache.Find(Key(0), name));
    ASSERT_TRUE(cache.Find("192.168.1.1", name));
    EXPECT_EQ(name, "router.test");

    // Replacing a key that is already there also flushes a full cache first.
    for (size_t i = 1; i < HostNameCache::kMaxEntries; ++i) cache.Insert(Key(i), "n");
    ASSERT_EQ(cache.Size(), 2048u);
    cache.Insert("192.168.1.1", "router2.test");
    EXPECT_EQ(cache.Size(), 1u);
    ASSERT_TRUE(cache.Find("192.168.1.1", name));
    EXPECT_EQ(name, "router2.test");
}

TEST(HostNameCacheTest, CopyNameCutsAtCharacterBoundary) {
    HostNameCache cache;
    cache.Insert("1.1.1.1", "ab\xE6\x97\xA5\xE6\x9C\xAC.test");  // "ab日本.test"
    char buf[7];
    ASSERT_TRUE(cache.CopyName("1.1.1.1", buf, sizeof buf));
    EXPECT_STREQ(buf, "ab\xE6\x97\xA5");  // 2 + 3 bytes; the second character would need 8
    char big[64];
    EXPECT_FALSE(cache.CopyName("2.2.2.2", big, sizeof big));
}

// Writers, a flusher and readers at once: the bound holds at every moment and readers only ever
// see whole values.
TEST(HostNameCacheTest, ConcurrentInsertsFlushesAndReads) {
    HostNameCache cache;
    std::atomic<bool> stop{false};
    std::atomic<size_t> largest{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([&, w] {
            for (size_t i = 0; i < 3000; ++i) cache.Insert(Key(i * 4 + w), "name-" + Key(i * 4 + w));
        });
    }
    std::thread reader([&] {
        std::string name;
        while (!stop) {
            size_t n = cache.Size();
            if (n > largest) largest = n;
            for (size_t i = 0; i < 64; ++i) {
                if (cache.Find(Key(i), name)) {
                    EXPECT_EQ(name, "name-" + Key(i));
                }
            }
        }
    });
    for (int f = 0; f < 50; ++f) {
        cache.Flush();
        std::this_thread::yield();
    }
    for (auto& t : writers) t.join();
    stop = true;
    reader.join();
    EXPECT_LE(largest.load(), HostNameCache::kMaxEntries);
    EXPECT_LE(cache.Size(), HostNameCache::kMaxEntries);
}

}  // namespace
}  // namespace varnel
