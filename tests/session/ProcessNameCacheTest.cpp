#include "session/ProcessNameCache.h"

#include <gtest/gtest.h>

#include "platform/fake/FakeProcessList.h"

namespace varnel {
namespace {

TEST(ProcessNameCacheTest, ReadsTheProcessListOnlyOnAMiss) {
    FakeProcessList list;
    list.processes = {{10, "bash"}};
    ProcessNameCache cache(list);
    cache.BeginPoll();
    EXPECT_EQ(cache.ProcessNameForPid(10), "bash");
    EXPECT_EQ(list.enumerations, 1);

    // A new process with two connections in one poll: one rebuild, then a hit.
    list.processes[20] = "curl";
    cache.BeginPoll();
    EXPECT_EQ(cache.ProcessNameForPid(20), "curl");
    EXPECT_EQ(cache.ProcessNameForPid(20), "curl");
    EXPECT_EQ(list.enumerations, 2);

    // A reused PID keeps its old name until some miss rebuilds the cache.
    list.processes[10] = "nginx";
    cache.BeginPoll();
    EXPECT_EQ(cache.ProcessNameForPid(10), "bash");
    EXPECT_EQ(cache.ProcessNameForPid(30), "");
    EXPECT_EQ(cache.ProcessNameForPid(10), "nginx");
}

TEST(ProcessNameCacheTest, AnOwnerThatExitedRebuildsAtMostOncePerPoll) {
    FakeProcessList list;
    list.processes = {{10, "bash"}};
    ProcessNameCache cache(list);
    for (int poll = 0; poll < 3; ++poll) {
        cache.BeginPoll();
        for (int row = 0; row < 50; ++row) EXPECT_EQ(cache.ProcessNameForPid(999), "");
    }
    EXPECT_EQ(list.enumerations, 3);
}

TEST(ProcessNameCacheTest, AnUnreadableProcessListGivesEmptyNames) {
    FakeProcessList list;
    list.failing = true;
    ProcessNameCache cache(list);
    cache.BeginPoll();
    EXPECT_EQ(cache.ProcessNameForPid(1), "");
    EXPECT_EQ(cache.size(), 0u);
}

}  // namespace
}  // namespace varnel
