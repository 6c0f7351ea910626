#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "FakeProcTree.h"
#include "platform/linux/InodePidTable.h"
#include "platform/linux/SocketOwnerMap.h"

namespace varnel {
namespace {

class SocketOwnerMapTest : public ::testing::Test {
  protected:
    // The fake tree's directories belong to the user running the test.
    const uint32_t uid = static_cast<uint32_t>(geteuid());
    FakeProcTree proc;
    std::vector<TcpRow> rows;
    std::vector<SocketIdentity> ids;

    void Table(std::initializer_list<uint64_t> inodes, uint32_t socketUid) {
        rows.clear();
        ids.clear();
        for (uint64_t inode : inodes) {
            rows.push_back(TcpRow{5, 0x0100007F, 1, 0x0100007F, 2, 12345});
            ids.push_back(SocketIdentity{inode, socketUid});
        }
    }
    void Table(std::initializer_list<uint64_t> inodes) { Table(inodes, uid); }
};

TEST_F(SocketOwnerMapTest, FindsEachSocketsProcessThroughItsFdLinks) {
    proc.AddFd(100, 0, "/dev/null");
    proc.AddSocket(100, 3, 1001);
    proc.AddFd(100, 4, "pipe:[555]");
    proc.AddSocket(200, 7, 2002);
    proc.AddSocket(200, 8, 2003);
    proc.AddDirectory("self");
    proc.AddDirectory("net");
    SocketOwnerMap map(proc.root());
    Table({1001, 2002, 0, 2003, 9999});
    map.Resolve(rows, ids);
    EXPECT_EQ(rows[0].owningPid, 100u);
    EXPECT_EQ(rows[1].owningPid, 200u);
    EXPECT_EQ(rows[2].owningPid, 0u) << "inode 0 has no owner";
    EXPECT_EQ(rows[3].owningPid, 200u);
    EXPECT_EQ(rows[4].owningPid, 0u) << "a socket no process holds";
    EXPECT_EQ(map.stats().searches, 1u);
}

TEST_F(SocketOwnerMapTest, KnownInodesCostNoSearch) {
    proc.AddSocket(100, 3, 1001);
    proc.AddSocket(200, 3, 2002);
    SocketOwnerMap map(proc.root());
    Table({1001, 2002});
    map.Resolve(rows, ids);
    const uint64_t links = map.stats().linksRead;
    for (int i = 0; i < 5; ++i) {
        Table({2002, 1001, 0});
        map.Resolve(rows, ids);
        EXPECT_EQ(rows[0].owningPid, 200u);
        EXPECT_EQ(rows[1].owningPid, 100u);
    }
    EXPECT_EQ(map.stats().searches, 1u);
    EXPECT_EQ(map.stats().linksRead, links);
    EXPECT_EQ(map.stats().polls, 6u);
}

TEST_F(SocketOwnerMapTest, TimeWaitAndRequestRowsNeverStartASearch) {
    proc.AddSocket(100, 3, 1001);
    SocketOwnerMap map(proc.root());
    Table({0, 0, 0});
    map.Resolve(rows, ids);
    EXPECT_EQ(map.stats().searches, 0u);
    EXPECT_EQ(map.stats().processesChecked, 0u);
    for (const TcpRow& r : rows) EXPECT_EQ(r.owningPid, 0u);
}

TEST_F(SocketOwnerMapTest, OnlyProcessesOfTheSocketsUidAreRead) {
    proc.AddSocket(100, 3, 1001);
    proc.AddSocket(200, 3, 2002);
    SocketOwnerMap map(proc.root());
    Table({1001}, uid + 1);
    map.Resolve(rows, ids);
    EXPECT_EQ(rows[0].owningPid, 0u);
    EXPECT_EQ(map.stats().processesChecked, 2u);
    EXPECT_EQ(map.stats().processesRead, 0u);
    EXPECT_EQ(map.stats().linksRead, 0u);
}

TEST_F(SocketOwnerMapTest, SearchStopsWhenAllAreFoundAndStartsWithRecentOwners) {
    for (int pid = 100; pid < 110; ++pid)
        for (int fd = 0; fd < 5; ++fd) proc.AddSocket(pid, fd, static_cast<uint64_t>(pid * 100 + fd));
    SocketOwnerMap map(proc.root());
    Table({10500});
    map.Resolve(rows, ids);
    ASSERT_EQ(rows[0].owningPid, 105u);

    // A new socket of the same process: only that process is read, and only up to that link.
    proc.AddSocket(105, 9, 77);
    const SocketOwnerMap::Stats before = map.stats();
    Table({10500, 77});
    map.Resolve(rows, ids);
    EXPECT_EQ(rows[1].owningPid, 105u);
    EXPECT_EQ(map.stats().searches, before.searches + 1);
    EXPECT_EQ(map.stats().processesRead, before.processesRead + 1);
    EXPECT_LE(map.stats().linksRead, before.linksRead + 6);
}

TEST_F(SocketOwnerMapTest, AnInodeFoundNowhereIsSoughtAgainOnlyAfterTheRetryPeriod) {
    proc.AddSocket(100, 3, 1001);
    SocketOwnerMap map(proc.root());
    Table({1001, 4242});
    map.Resolve(rows, ids);
    EXPECT_EQ(rows[1].owningPid, 0u);
    EXPECT_EQ(map.stats().searches, 1u);
    for (uint32_t i = 1; i < SocketOwnerMap::kRetryPolls; ++i) {
        map.Resolve(rows, ids);
        ASSERT_EQ(map.stats().searches, 1u) << "poll " << i;
    }
    // Its owner shows up (e.g. an fd passed in from elsewhere); the retry finds it.
    proc.AddSocket(300, 5, 4242);
    map.Resolve(rows, ids);
    EXPECT_EQ(map.stats().searches, 2u);
    EXPECT_EQ(rows[1].owningPid, 300u);
    EXPECT_EQ(rows[0].owningPid, 100u);
}

TEST_F(SocketOwnerMapTest, InodesGoneFromTheTableAreForgotten) {
    proc.AddSocket(100, 3, 1001);
    proc.AddSocket(100, 4, 1002);
    SocketOwnerMap map(proc.root());
    Table({1001, 1002});
    map.Resolve(rows, ids);
    EXPECT_EQ(map.cachedInodes(), 2u);
    Table({1002});
    map.Resolve(rows, ids);
    EXPECT_EQ(map.cachedInodes(), 1u);

    // The same inode number back in another process: looked up afresh, not taken from the cache.
    proc.RemoveFd(100, 3);
    proc.AddSocket(200, 3, 1001);
    Table({1002, 1001});
    map.Resolve(rows, ids);
    EXPECT_EQ(rows[1].owningPid, 200u);
    EXPECT_EQ(rows[0].owningPid, 100u);
}

TEST_F(SocketOwnerMapTest, VanishedProcessesAndMissingProcAreNoFailure) {
    proc.AddSocket(100, 3, 1001);
    SocketOwnerMap map(proc.root());
    Table({1001});
    map.Resolve(rows, ids);
    proc.RemoveProcess(100);
    proc.AddSocket(101, 3, 1002);
    Table({1002});
    map.Resolve(rows, ids);  // the recent owner 100 is gone
    EXPECT_EQ(rows[0].owningPid, 101u);

    SocketOwnerMap nowhere(proc.root() + "/absent");
    Table({1001});
    nowhere.Resolve(rows, ids);
    EXPECT_EQ(rows[0].owningPid, 0u);
}

TEST_F(SocketOwnerMapTest, FindsThisProcessAsOwnerOfItsSocketInTheRealProc) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    struct stat st;
    ASSERT_EQ(fstat(pair[1], &st), 0);
    SocketOwnerMap map;
    Table({static_cast<uint64_t>(st.st_ino)});
    map.Resolve(rows, ids);
    EXPECT_EQ(rows[0].owningPid, static_cast<uint32_t>(getpid()));
    close(pair[0]);
    close(pair[1]);
}

TEST(InodePidTableTest, GrowsKeepsAndPrunes) {
    InodePidTable table;
    for (uint64_t inode = 1; inode <= 5000; ++inode)
        table.Insert(inode).pid = static_cast<uint32_t>(inode * 2);
    EXPECT_EQ(table.size(), 5000u);
    for (uint64_t inode = 1; inode <= 5000; ++inode) {
        const InodePidTable::Entry* e = table.Find(inode);
        ASSERT_NE(e, nullptr) << inode;
        EXPECT_EQ(e->pid, inode * 2);
    }
    EXPECT_EQ(table.Find(5001), nullptr);
    EXPECT_EQ(&table.Insert(77), table.Find(77)) << "inserting a present inode returns its entry";
    EXPECT_EQ(table.size(), 5000u);

    table.RetainIf([](const InodePidTable::Entry& e) { return e.inode % 3 == 0; });
    EXPECT_EQ(table.size(), 1666u);
    for (uint64_t inode = 1; inode <= 5000; ++inode)
        EXPECT_EQ(table.Find(inode) != nullptr, inode % 3 == 0) << inode;
    EXPECT_EQ(table.Find(3000)->pid, 6000u);

    table.Clear();
    EXPECT_EQ(table.size(), 0u);
    EXPECT_EQ(table.Find(3000), nullptr);
}

}  // namespace
}  // namespace varnel
