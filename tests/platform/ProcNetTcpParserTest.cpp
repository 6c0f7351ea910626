#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/linux/KernelTcp.h"
#include "platform/linux/ProcNetTcpParser.h"

namespace varnel {
namespace {

uint32_t Addr(const char* dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

uint32_t Port(int port) {
    return htons(static_cast<uint16_t>(port));
}

// Lines as a 6.x kernel writes them, in a namespace holding a dual-stack listener on port 5000
// with one IPv4 client and one ::1 client, a listener on 127.0.0.1:5001 and one TIME_WAIT socket.
const char* const kTcp =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
    "   0: 0100007F:1389 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 31640 1 "
    "00000000bf62a06e 100 0 0 10 0\n"
    "   1: 0100007F:BFF6 0100007F:1388 01 00000000:00000000 00:00000000 00000000  1000        0 31636 2 "
    "0000000068e18052 20 0 0 10 -1\n"
    "   2: 0100007F:1389 0100007F:8096 06 00000000:00000000 03:00001770 00000000     0        0 0 3 "
    "0000000002f9e589\n";

const char* const kTcp6 =
    "  sl  local_address                         remote_address                        st tx_queue rx_queue "
    "tr "
    "tm->when retrnsmt   uid  timeout inode\n"
    "   0: 00000000000000000000000000000000:1388 00000000000000000000000000000000:0000 0A 00000000:00000000 "
    "00:00000000 00000000     0        0 31635 1 0000000071b1a0a7 100 0 0 10 0\n"
    "   1: 00000000000000000000000001000000:1388 00000000000000000000000001000000:CFCE 01 00000000:00000000 "
    "00:00000000 00000000     0        0 31639 1 0000000026fbade5 20 0 0 10 -1\n"
    "   2: 0000000000000000FFFF00000100007F:1388 0000000000000000FFFF00000100007F:BFF6 01 00000000:00000000 "
    "00:00000000 00000000  1000        0 31637 1 00000000e3ad8995 20 0 0 10 -1\n";

TEST(ProcNetTcpParserTest, ReadsIpv4LinesIntoTableRows) {
    std::vector<TcpRow> rows;
    std::vector<SocketIdentity> ids;
    ASSERT_EQ(ProcNetTcpParser::Parse(kTcp, false, rows, ids), 3u);
    ASSERT_EQ(ids.size(), 3u);

    EXPECT_EQ(rows[0].state, kTcpListen);
    EXPECT_EQ(rows[0].localAddr, Addr("127.0.0.1"));
    EXPECT_EQ(rows[0].localPort, Port(5001));
    EXPECT_EQ(rows[0].remoteAddr, 0u);
    EXPECT_EQ(rows[0].remotePort, 0u);
    EXPECT_EQ(ids[0].inode, 31640u);

    EXPECT_EQ(rows[1].state, kTcpEstablished);
    EXPECT_EQ(rows[1].localPort, Port(0xBFF6));
    EXPECT_EQ(rows[1].remoteAddr, Addr("127.0.0.1"));
    EXPECT_EQ(rows[1].remotePort, Port(5000));
    EXPECT_EQ(rows[1].owningPid, 0u);
    EXPECT_EQ(ids[1].uid, 1000u);
    EXPECT_EQ(ids[1].inode, 31636u);

    // A TIME_WAIT line is shorter and has no inode owner.
    EXPECT_EQ(rows[2].state, kTcpTimeWait);
    EXPECT_EQ(ids[2].inode, 0u);
}

Ip6Address Addr6(const char* text) {
    Ip6Address a{};
    inet_pton(AF_INET6, text, a.bytes);
    return a;
}

TEST(ProcNetTcpParserTest, Tcp6GivesIpv4MappedSocketsAsIpv4RowsAndTheOthersAsIpv6Rows) {
    std::vector<TcpRow> rows;
    std::vector<SocketIdentity> ids;
    ASSERT_EQ(ProcNetTcpParser::Parse(kTcp6, true, rows, ids), 3u);
    // The listener on ::.
    EXPECT_TRUE(rows[0].v6);
    EXPECT_EQ(rows[0].state, kTcpListen);
    EXPECT_TRUE(rows[0].localAddr6.IsUnspecified());
    EXPECT_EQ(rows[0].localPort, Port(5000));
    // The ::1 client's accepted socket: the words read as the kernel holds them give ::1.
    EXPECT_TRUE(rows[1].v6);
    EXPECT_EQ(rows[1].state, kTcpEstablished);
    EXPECT_EQ(rows[1].localAddr6, Addr6("::1"));
    EXPECT_EQ(rows[1].remoteAddr6, Addr6("::1"));
    EXPECT_EQ(rows[1].localAddr, 0u);
    EXPECT_EQ(rows[1].remoteAddr, 0u);
    EXPECT_EQ(rows[1].remotePort, Port(0xCFCE));
    EXPECT_EQ(ids[1].inode, 31639u);
    // The IPv4 client's accepted socket stays an IPv4 connection.
    EXPECT_FALSE(rows[2].v6);
    EXPECT_EQ(rows[2].state, kTcpEstablished);
    EXPECT_EQ(rows[2].localAddr, Addr("127.0.0.1"));
    EXPECT_EQ(rows[2].localPort, Port(5000));
    EXPECT_EQ(rows[2].remoteAddr, Addr("127.0.0.1"));
    EXPECT_EQ(rows[2].remotePort, Port(0xBFF6));
    EXPECT_TRUE(rows[2].localAddr6.IsUnspecified());
    EXPECT_EQ(ids[2].inode, 31637u);
    EXPECT_EQ(ids[2].uid, 1000u);
}

TEST(ProcNetTcpParserTest, ReadsAnyIpv6AddressWordByWord) {
    TcpRow row;
    SocketIdentity id;
    // 2001:db8::42 and fe80::1:2, each word as the kernel prints its in-memory value.
    ASSERT_TRUE(ProcNetTcpParser::ParseLine("   0: B80D0120000000000000000042000000:1B58 "
                                            "000080FE000000000000000002000100:D431 01 00000000:00000000 "
                                            "00:00000000 00000000     0        0 7 1",
                                            true, row, id));
    EXPECT_TRUE(row.v6);
    EXPECT_EQ(row.localAddr6, Addr6("2001:db8::42"));
    EXPECT_EQ(row.remoteAddr6, Addr6("fe80::1:2"));
    EXPECT_EQ(row.localPort, Port(7000));
    EXPECT_EQ(row.remotePort, Port(0xD431));
}

TEST(ProcNetTcpParserTest, AppendsToWhatIsThere) {
    std::vector<TcpRow> rows;
    std::vector<SocketIdentity> ids;
    ProcNetTcpParser::Parse(kTcp, false, rows, ids);
    ProcNetTcpParser::Parse(kTcp6, true, rows, ids);
    EXPECT_EQ(rows.size(), 6u);
    EXPECT_EQ(ids.size(), 6u);
    EXPECT_EQ(ids[5].inode, 31637u);
}

TEST(ProcNetTcpParserTest, MappedOnOneSideOnlyIsNoIpv4Connection) {
    TcpRow row;
    SocketIdentity id;
    ASSERT_TRUE(
        ProcNetTcpParser::ParseLine("   0: 0000000000000000FFFF00000100007F:1388 "
                                    "00000000000000000000000001000000:BFF6 01 00000000:00000000 "
                                    "00:00000000 00000000     0        0 7 1",
                                    true, row, id));
    EXPECT_TRUE(row.v6);
    EXPECT_EQ(row.localAddr6, Addr6("::ffff:127.0.0.1"));
    EXPECT_EQ(row.remoteAddr6, Addr6("::1"));
    EXPECT_EQ(row.localAddr, 0u);
    // An IPv4 line given as tcp6 text does not have the tcp6 address width.
    EXPECT_FALSE(ProcNetTcpParser::ParseLine(
        "   1: 0100007F:BFF6 0100007F:1388 01 00000000:00000000 00:00000000 00000000     0        0 31636",
        true, row, id));
}

TEST(ProcNetTcpParserTest, SkipsMalformedLinesAndKeepsTheGoodOnes) {
    const std::string good =
        "   7: 0100007F:BFF6 0100007F:1388 01 00000000:00000000 00:00000000 00000000     0        0 99 2\n";
    const char* const
        bad[] =
            {
                "",
                "garbage",
                "   7:",
                "   7: 0100007F:BFF6",  // cut after local
                "   7: 0100007F:BFF6 0100007F:1388 01 00000000:00000000 00:00000000 00000000     0",  // no
                                                                                                      // inode
                "   7: 0100007G:BFF6 0100007F:1388 01 00000000:00000000 00:00000000 00000000     0        0 "
                "99",
                "   7: 100007F:BFF6 0100007F:1388 01 00000000:00000000 00:00000000 00000000     0        0 "
                "99",
                "   7: 0100007F-BFF6 0100007F:1388 01 00000000:00000000 00:00000000 00000000     0        0 "
                "99",
                "   7: 0100007F:BFF6 0100007F:1388 1 00000000:00000000 00:00000000 00000000     0        0 "
                "99",
                "   7: 0100007F:BFF6 0100007F:1388 0D 00000000:00000000 00:00000000 00000000     0        0 "
                "99",  // state 13
                "   7: 0100007F:BFF6 0100007F:1388 00 00000000:00000000 00:00000000 00000000     0        0 "
                "99",  // state 0
                "   7: 0100007F:BFF6 0100007F:1388 01 0000000000000000 00:00000000 00000000     0        0 "
                "99",
                "   7: 0100007F:BFF6 0100007F:1388 01 00000000:00000000 00:00000000 00000000     x        0 "
                "99",
                "   7: 0100007F:BFF6 0100007F:1388 01 00000000:00000000 00:00000000 00000000     0        0 "
                "99999999999999999999999",  // inode overflows
                "   7: 0100007F:BFF6 0100007F:1388 01 00000000:00000000 00:00000000 00000000 4294967296 0 99",
                "x7: 0100007F:BFF6 0100007F:1388 01 00000000:00000000 00:00000000 00000000     0        0 99",
            };
    std::string text;
    for (const char* line : bad) text += std::string(line) + "\n" + good;
    text += "   7: 0100007F:BFF6";  // a last line without its end
    std::vector<TcpRow> rows;
    std::vector<SocketIdentity> ids;
    EXPECT_EQ(ProcNetTcpParser::Parse(text, false, rows, ids), std::size(bad));
    for (const SocketIdentity& id : ids) EXPECT_EQ(id.inode, 99u);

    for (const char* line : bad) {
        TcpRow row;
        SocketIdentity id;
        EXPECT_FALSE(ProcNetTcpParser::ParseLine(line, false, row, id)) << line;
    }
}

TEST(ProcNetTcpParserTest, LastLineWithoutNewlineAndNegativeTimeoutAreRead) {
    std::vector<TcpRow> rows;
    std::vector<SocketIdentity> ids;
    EXPECT_EQ(
        ProcNetTcpParser::Parse("   0: 0100007F:BFF6 0100007F:1388 04 00000000:00000000 01:FFFFFFFFFFFFFFF0 "
                                "00000003 0 -1 5",
                                false, rows, ids),
        1u);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].state, kTcpFinWait1);
    EXPECT_EQ(ids[0].inode, 5u);
}

TEST(KernelTcpTest, EveryKernelStateHasItsTableCode) {
    // Kernel numbering 1..12 to the table's 1..12 codes.
    const struct {
        unsigned kernel;
        uint32_t code;
    } cases[] = {
        {1, kTcpEstablished}, {2, kTcpSynSent},  {3, kTcpSynRcvd},  {4, kTcpFinWait1},
        {5, kTcpFinWait2},    {6, kTcpTimeWait}, {7, kTcpClosed},   {8, kTcpCloseWait},
        {9, kTcpLastAck},     {10, kTcpListen},  {11, kTcpClosing}, {12, kTcpSynRcvd},
    };
    for (const auto& c : cases) EXPECT_EQ(KernelTcp::TableState(c.kernel), c.code) << c.kernel;
    EXPECT_EQ(KernelTcp::TableState(0), 0u);
    EXPECT_EQ(KernelTcp::TableState(13), 0u);  // bound, never connected: no connection
    EXPECT_EQ(KernelTcp::TableState(255), 0u);
    // The dump mask asks for exactly the states that have a code.
    for (unsigned s = 0; s < 32; ++s)
        EXPECT_EQ((KernelTcp::kAllConnectionStates >> s) & 1u, KernelTcp::TableState(s) != 0 ? 1u : 0u) << s;
}

TEST(KernelTcpTest, UnmapsOnlyIpv4MappedAddresses) {
    uint32_t v4 = 0;
    const uint32_t mapped[4] = {0, 0, htonl(0xFFFF), Addr("10.1.2.3")};
    EXPECT_TRUE(KernelTcp::UnmapV4(mapped, v4));
    EXPECT_EQ(v4, Addr("10.1.2.3"));
    const uint32_t loopback6[4] = {0, 0, 0, htonl(1)};
    EXPECT_FALSE(KernelTcp::UnmapV4(loopback6, v4));
    const uint32_t compat[4] = {0, 0, htonl(0xFFFF0000), Addr("10.1.2.3")};  // ::ffff:0:a.b.c.d
    EXPECT_FALSE(KernelTcp::UnmapV4(compat, v4));
}

}  // namespace
}  // namespace varnel
