#include "platform/linux/ConnectEventRecord.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace varnel {
namespace {

// Records the BPF program wrote on this machine's kernel (6.18) in a private network namespace:
// a python3 client's loopback connection 127.0.0.1:60758 -> 127.0.0.1:7000 becoming established
// (old state SYN_SENT, owner pid 7695 remembered from its connect()), and ::1:57482 -> ::1:7001.
const std::vector<uint8_t> kIpv4Established = {
    0xe6, 0x7d, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0f, 0x1e, 0x00, 0x00, 0x02, 0x00, 0x56, 0xed, 0x58, 0x1b,
    0x02, 0x01, 0x7f, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x7f, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x70, 0x79,
    0x74, 0x68, 0x6f, 0x6e, 0x33, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
const std::vector<uint8_t> kIpv6Established = {
    0x69, 0x6f, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x1e, 0x00, 0x00, 0x0a, 0x00, 0x8a, 0xe0, 0x59, 0x1b,
    0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x70, 0x79,
    0x74, 0x68, 0x6f, 0x6e, 0x33, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};

TEST(ConnectEventRecordTest, RecordedEventsReadAsTableRows) {
    ConnectEvent e;
    ASSERT_TRUE(ConnectEventRecord::Decode(kIpv4Established.data(), kIpv4Established.size(), e));
    EXPECT_FALSE(e.row.v6);
    EXPECT_EQ(e.row.state, uint32_t{kTcpEstablished});
    EXPECT_EQ(e.row.localAddr, htonl(0x7f000001));
    EXPECT_EQ(e.row.remoteAddr, htonl(0x7f000001));
    EXPECT_EQ(e.row.localPort, htons(60758));
    EXPECT_EQ(e.row.remotePort, htons(7000));
    EXPECT_EQ(e.row.owningPid, 7695u);
    EXPECT_EQ(e.cookie, 0x37de6u);
    EXPECT_STREQ(e.comm, "python3");

    ASSERT_TRUE(ConnectEventRecord::Decode(kIpv6Established.data(), kIpv6Established.size(), e));
    EXPECT_TRUE(e.row.v6);
    EXPECT_EQ(e.row.localAddr6.bytes[15], 1);
    EXPECT_EQ(e.row.remoteAddr6.bytes[15], 1);
    EXPECT_EQ(e.row.localPort, htons(57482));
    EXPECT_EQ(e.row.remotePort, htons(7001));
}

TEST(ConnectEventRecordTest, MappedIpv6IsAnIpv4RowAndTheCommandIsCleaned) {
    std::vector<uint8_t> r = kIpv6Established;
    const uint8_t mapped[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 10, 0, 0, 1};
    std::memcpy(&r[20], mapped, 16);
    std::memcpy(&r[36], mapped, 16);
    r[53] = '\n';  // "p\nthon3"
    ConnectEvent e;
    ASSERT_TRUE(ConnectEventRecord::Decode(r.data(), r.size(), e));
    EXPECT_FALSE(e.row.v6);
    EXPECT_EQ(e.row.remoteAddr, htonl(0x0a000001));
    EXPECT_STREQ(e.comm, "pthon3");
    std::fill(r.begin() + 52, r.begin() + 68, 'x');  // no terminator in the record
    ASSERT_TRUE(ConnectEventRecord::Decode(r.data(), r.size(), e));
    EXPECT_EQ(std::strlen(e.comm), 15u);
    std::memset(&r[8], 0, 4);  // pid 0: the name is not the owner's
    ASSERT_TRUE(ConnectEventRecord::Decode(r.data(), r.size(), e));
    EXPECT_STREQ(e.comm, "");
}

// Each row: one change to a recorded image that makes it no record of the layout.
struct Damage {
    const char* what;
    size_t offset;
    uint8_t value;
};

TEST(ConnectEventRecordTest, DamagedRecordsAreRefused) {
    const Damage table[] = {
        {"version 2", 68, 2},
        {"family AF_UNIX", 12, 1},
        {"family high byte", 13, 2},
        {"kernel state 0", 19, 0},
        {"kernel state 13", 19, 13},
        {"IPv4 local address with stray bytes", 30, 1},
        {"IPv4 remote address with stray bytes", 51, 1},
    };
    for (const Damage& d : table) {
        std::vector<uint8_t> r = kIpv4Established;
        r[d.offset] = d.value;
        ConnectEvent e;
        EXPECT_FALSE(ConnectEventRecord::Decode(r.data(), r.size(), e)) << d.what;
    }
}

TEST(ConnectEventRecordTest, OnlyTheExactSizeIsRead) {
    ConnectEvent e;
    std::vector<uint8_t> longer = kIpv4Established;
    longer.resize(80);
    for (size_t size : {size_t{0}, size_t{68}, size_t{71}, size_t{73}, size_t{80}})
        EXPECT_FALSE(ConnectEventRecord::Decode(longer.data(), size, e)) << size;
    EXPECT_FALSE(ConnectEventRecord::Decode(nullptr, ConnectEventRecord::kSize, e));
}

}  // namespace
}  // namespace varnel
