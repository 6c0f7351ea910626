#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "FakeProcTree.h"
#include "platform/linux/LinuxConnectionTable.h"
#include "platform/linux/NetlinkSocketDestroy.h"

namespace varnel {
namespace {

// The from-stack and plain readers over a fake /proc: table text plus fd links.
class LinuxConnectionTableTest : public ::testing::Test {
  protected:
    FakeProcTree proc;
    void SetUp() override {
        const std::string uid = std::to_string(geteuid());
        proc.Write(
            "net/tcp",
            "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout "
            "inode\n"
            "   0: 0100007F:BFF6 0100007F:1388 01 00000000:00000000 00:00000000 00000000 " +
                uid +
                " 0 31636 2\n"
                "   1: 0100007F:1389 0100007F:8096 06 00000000:00000000 03:00001770 00000000 0 0 0 "
                "3\n");
        proc.Write("net/tcp6",
                   "   0: 0000000000000000FFFF00000100007F:1388 0000000000000000FFFF00000100007F:BFF6 01 "
                   "00000000:00000000 00:00000000 00000000 " +
                       uid + " 0 31637 1\n");
        proc.AddSocket(4000, 5, 31636);
        proc.AddSocket(4001, 6, 31637);
    }
    LinuxConnectionTable::Options FakeProc() {
        LinuxConnectionTable::Options o;
        o.netlink = false;
        o.procRoot = proc.root();
        return o;
    }
};

TEST_F(LinuxConnectionTableTest, FromStackReaderGivesOwnersPlainReaderDoesNot) {
    LinuxConnectionTable table(FakeProc());
    EXPECT_FALSE(table.HasExtendedTcpTable());
    EXPECT_TRUE(table.HasTcpExTableFromStack());

    std::vector<TcpRow> rows{TcpRow{}};
    EXPECT_FALSE(table.GetExtendedTcpTable(rows));
    EXPECT_TRUE(rows.empty());

    ASSERT_TRUE(table.GetTcpExTableFromStack(rows));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].owningPid, 4000u);
    EXPECT_EQ(rows[1].state, kTcpTimeWait);
    EXPECT_EQ(rows[1].owningPid, 0u);
    EXPECT_EQ(rows[2].owningPid, 4001u);
    EXPECT_EQ(rows[2].localPort, htons(5000));

    ASSERT_TRUE(table.GetTcpTable(rows));
    ASSERT_EQ(rows.size(), 3u);
    for (const TcpRow& r : rows) EXPECT_EQ(r.owningPid, 0u);
}

TEST_F(LinuxConnectionTableTest, OnlyThePlainReaderWhenBothOthersAreOff) {
    LinuxConnectionTable::Options o = FakeProc();
    o.procFromStack = false;
    LinuxConnectionTable table(o);
    EXPECT_FALSE(table.HasExtendedTcpTable());
    EXPECT_FALSE(table.HasTcpExTableFromStack());
    std::vector<TcpRow> rows;
    EXPECT_FALSE(table.GetTcpExTableFromStack(rows));
    ASSERT_TRUE(table.GetTcpTable(rows));
    EXPECT_EQ(rows.size(), 3u);
}

TEST_F(LinuxConnectionTableTest, WithoutProcNothingIsAvailableAndReadsFail) {
    LinuxConnectionTable::Options o;
    o.netlink = false;
    o.procRoot = proc.root() + "/absent";
    LinuxConnectionTable table(o);
    EXPECT_FALSE(table.HasTcpExTableFromStack());
    std::vector<TcpRow> rows{TcpRow{}};
    EXPECT_FALSE(table.GetTcpTable(rows));
    EXPECT_TRUE(rows.empty());
}

TEST(NetlinkSocketDestroyTest, ErrnoToResetStatus) {
    EXPECT_EQ(NetlinkSocketDestroy::FromErrno(0).status, ResetStatus::kOk);
    EXPECT_EQ(NetlinkSocketDestroy::FromErrno(EPERM).status, ResetStatus::kPermissionDenied);
    EXPECT_EQ(NetlinkSocketDestroy::FromErrno(EACCES).status, ResetStatus::kPermissionDenied);
    EXPECT_EQ(NetlinkSocketDestroy::FromErrno(EOPNOTSUPP).status, ResetStatus::kNotSupported);
    EXPECT_EQ(NetlinkSocketDestroy::FromErrno(ENOENT).status, ResetStatus::kNoSuchConnection);
    const ResetResult other = NetlinkSocketDestroy::FromErrno(EBUSY);
    EXPECT_EQ(other.status, ResetStatus::kFailed);
    EXPECT_EQ(other.error, EBUSY);
    EXPECT_EQ(NetlinkSocketDestroy::FromErrno(EPERM).error, EPERM);
}

TEST(NetlinkSocketDestroyTest, OnlyADeleteRequestIsCarriedOut) {
    NetlinkSocketDestroy destroy;
    const ResetResult r =
        destroy.SetTcpEntry(TcpRow{kTcpEstablished, 0x0100007F, htons(1), 0x0100007F, htons(2), 0});
    EXPECT_EQ(r.status, ResetStatus::kFailed);
    EXPECT_EQ(r.error, EINVAL);
}

}  // namespace
}  // namespace varnel
