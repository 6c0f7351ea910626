#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/linux/InetDiagCodec.h"
#include "platform/linux/KernelTcp.h"

namespace varnel {
namespace {

uint32_t Addr(const char* dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

// A datagram as the kernel sends it: netlink messages, each padded to 4 bytes.
class Datagram {
  public:
    void Add(uint16_t type, uint32_t seq, const void* payload, size_t size) {
        nlmsghdr h{};
        h.nlmsg_len = static_cast<uint32_t>(NLMSG_LENGTH(size));
        h.nlmsg_type = type;
        h.nlmsg_flags = NLM_F_MULTI;
        h.nlmsg_seq = seq;
        const size_t at = bytes.size();
        bytes.resize(at + NLMSG_ALIGN(h.nlmsg_len), 0);
        std::memcpy(bytes.data() + at, &h, sizeof h);
        if (size > 0) std::memcpy(bytes.data() + at + NLMSG_HDRLEN, payload, size);
    }
    void AddSocket(uint32_t seq, const inet_diag_msg& msg) {
        Add(SOCK_DIAG_BY_FAMILY, seq, &msg, sizeof msg);
    }
    void AddDone(uint32_t seq, int status = 0) { Add(NLMSG_DONE, seq, &status, sizeof status); }
    void AddError(uint32_t seq, int negativeErrno) {
        nlmsgerr e{};
        e.error = negativeErrno;
        Add(NLMSG_ERROR, seq, &e, sizeof e);
    }
    std::vector<uint8_t> bytes;
};

inet_diag_msg V4Socket(unsigned kernelState, const char* src, int sport, const char* dst, int dport,
                       uint32_t inode, uint32_t uid) {
    inet_diag_msg m{};
    m.idiag_family = AF_INET;
    m.idiag_state = static_cast<uint8_t>(kernelState);
    m.id.idiag_src[0] = Addr(src);
    m.id.idiag_dst[0] = Addr(dst);
    m.id.idiag_sport = htons(static_cast<uint16_t>(sport));
    m.id.idiag_dport = htons(static_cast<uint16_t>(dport));
    m.idiag_inode = inode;
    m.idiag_uid = uid;
    return m;
}

inet_diag_msg V6Socket(unsigned kernelState, const uint32_t src[4], const uint32_t dst[4], uint32_t inode) {
    inet_diag_msg m{};
    m.idiag_family = AF_INET6;
    m.idiag_state = static_cast<uint8_t>(kernelState);
    std::memcpy(m.id.idiag_src, src, 16);
    std::memcpy(m.id.idiag_dst, dst, 16);
    m.id.idiag_sport = htons(5000);
    m.id.idiag_dport = htons(40000);
    m.idiag_inode = inode;
    return m;
}

struct Parsed {
    InetDiagCodec::Chunk chunk;
    int error = 0;
    std::vector<TcpRow> rows;
    std::vector<SocketIdentity> ids;
};

Parsed Parse(const std::vector<uint8_t>& bytes, uint32_t seq) {
    Parsed p;
    p.chunk = InetDiagCodec::ParseDump(bytes.data(), bytes.size(), seq, p.rows, p.ids, p.error);
    return p;
}

TEST(InetDiagCodecTest, DumpDatagramBecomesRowsInOrderWithIdentity) {
    Datagram d;
    d.AddSocket(7, V4Socket(10, "127.0.0.1", 5001, "0.0.0.0", 0, 100, 0));
    d.AddSocket(7, V4Socket(1, "127.0.0.1", 40000, "10.0.0.9", 443, 101, 1000));
    d.AddSocket(7, V4Socket(6, "127.0.0.1", 40001, "10.0.0.9", 443, 0, 0));
    Parsed p = Parse(d.bytes, 7);
    EXPECT_EQ(p.chunk, InetDiagCodec::Chunk::kMore);
    ASSERT_EQ(p.rows.size(), 3u);
    ASSERT_EQ(p.ids.size(), 3u);
    EXPECT_EQ(p.rows[0].state, kTcpListen);
    EXPECT_EQ(p.rows[1].state, kTcpEstablished);
    EXPECT_EQ(p.rows[1].localAddr, Addr("127.0.0.1"));
    EXPECT_EQ(p.rows[1].localPort, htons(40000));
    EXPECT_EQ(p.rows[1].remoteAddr, Addr("10.0.0.9"));
    EXPECT_EQ(p.rows[1].remotePort, htons(443));
    EXPECT_EQ(p.rows[1].owningPid, 0u);
    EXPECT_EQ(p.ids[1].inode, 101u);
    EXPECT_EQ(p.ids[1].uid, 1000u);
    EXPECT_EQ(p.rows[2].state, kTcpTimeWait);
}

TEST(InetDiagCodecTest, Ipv6SocketsAreIpv4RowsOnlyWhenBothSidesAreIpv4Mapped) {
    const uint32_t mapped[4] = {0, 0, htonl(0xFFFF), Addr("192.168.1.2")};
    const uint32_t mappedPeer[4] = {0, 0, htonl(0xFFFF), Addr("192.168.1.3")};
    const uint32_t loopback6[4] = {0, 0, 0, htonl(1)};
    const uint32_t doc6[4] = {htonl(0x20010db8), 0, 0, htonl(0x00000042)};
    const uint32_t any6[4] = {0, 0, 0, 0};
    Datagram d;
    d.AddSocket(1, V6Socket(1, mapped, mappedPeer, 200));
    d.AddSocket(1, V6Socket(1, loopback6, doc6, 201));
    d.AddSocket(1, V6Socket(10, any6, any6, 202));  // dual-stack listener on ::
    d.AddSocket(1, V6Socket(1, mapped, loopback6, 203));
    Parsed p = Parse(d.bytes, 1);
    ASSERT_EQ(p.rows.size(), 4u);
    EXPECT_FALSE(p.rows[0].v6);
    EXPECT_EQ(p.rows[0].localAddr, Addr("192.168.1.2"));
    EXPECT_EQ(p.rows[0].remoteAddr, Addr("192.168.1.3"));
    EXPECT_EQ(p.rows[0].localPort, htons(5000));
    EXPECT_TRUE(p.rows[0].localAddr6.IsUnspecified());
    EXPECT_EQ(p.ids[0].inode, 200u);

    // A pure IPv6 socket keeps its 16 bytes as the kernel gave them; the IPv4 fields stay 0.
    EXPECT_TRUE(p.rows[1].v6);
    EXPECT_EQ(p.rows[1].localAddr, 0u);
    EXPECT_EQ(p.rows[1].remoteAddr, 0u);
    EXPECT_EQ(std::memcmp(p.rows[1].localAddr6.bytes, loopback6, 16), 0);
    EXPECT_EQ(std::memcmp(p.rows[1].remoteAddr6.bytes, doc6, 16), 0);
    EXPECT_EQ(p.rows[1].remotePort, htons(40000));
    EXPECT_EQ(p.ids[1].inode, 201u);
    EXPECT_TRUE(p.rows[2].v6);
    EXPECT_EQ(p.rows[2].state, kTcpListen);
    EXPECT_TRUE(p.rows[2].localAddr6.IsUnspecified());
    // Mapped on one side only is no IPv4 connection: an IPv6 row with the mapped bytes as they are.
    EXPECT_TRUE(p.rows[3].v6);
    EXPECT_EQ(std::memcmp(p.rows[3].localAddr6.bytes, mapped, 16), 0);
    EXPECT_EQ(p.ids[3].inode, 203u);
}

TEST(InetDiagCodecTest, EndErrorAndForeignSequence) {
    Datagram d;
    d.AddSocket(6, V4Socket(1, "10.0.0.1", 1, "10.0.0.2", 2, 1, 0));  // an older dump's leftover
    d.AddSocket(7, V4Socket(1, "10.0.0.1", 3, "10.0.0.2", 4, 2, 0));
    d.AddDone(7);
    d.AddSocket(7, V4Socket(1, "10.0.0.1", 5, "10.0.0.2", 6, 3, 0));  // after the end: not read
    Parsed p = Parse(d.bytes, 7);
    EXPECT_EQ(p.chunk, InetDiagCodec::Chunk::kDone);
    ASSERT_EQ(p.rows.size(), 1u);
    EXPECT_EQ(p.ids[0].inode, 2u);

    Datagram failed;
    failed.AddDone(7, -ENOBUFS);  // a dump that failed part way
    p = Parse(failed.bytes, 7);
    EXPECT_EQ(p.chunk, InetDiagCodec::Chunk::kError);
    EXPECT_EQ(p.error, ENOBUFS);

    Datagram refused;
    refused.AddError(7, -EINVAL);
    p = Parse(refused.bytes, 7);
    EXPECT_EQ(p.chunk, InetDiagCodec::Chunk::kError);
    EXPECT_EQ(p.error, EINVAL);

    // Status values no kernel sends are protocol errors, never success and never negated blindly.
    Datagram odd;
    odd.AddDone(7, INT32_MIN);
    p = Parse(odd.bytes, 7);
    EXPECT_EQ(p.chunk, InetDiagCodec::Chunk::kError);
    EXPECT_EQ(p.error, EPROTO);
    Datagram positive;
    positive.AddError(8, 5);
    EXPECT_EQ(InetDiagCodec::ParseExact(positive.bytes.data(), positive.bytes.size(), 8).error, EPROTO);
    p = Parse(positive.bytes, 8);
    EXPECT_EQ(p.error, EPROTO);
}

TEST(InetDiagCodecTest, DamagedDatagramsAreErrorsNotReadsPastTheEnd) {
    Datagram d;
    d.AddSocket(7, V4Socket(1, "10.0.0.1", 3, "10.0.0.2", 4, 2, 0));
    // Length field larger than the datagram.
    std::vector<uint8_t> cut(d.bytes.begin(), d.bytes.end() - 8);
    Parsed p = Parse(cut, 7);
    EXPECT_EQ(p.chunk, InetDiagCodec::Chunk::kError);
    EXPECT_EQ(p.error, EBADMSG);
    EXPECT_TRUE(p.rows.empty());

    // A socket message too short for its payload.
    Datagram shortMsg;
    shortMsg.Add(SOCK_DIAG_BY_FAMILY, 7, "abcd", 4);
    p = Parse(shortMsg.bytes, 7);
    EXPECT_EQ(p.chunk, InetDiagCodec::Chunk::kError);

    // A header claiming less than a header.
    std::vector<uint8_t> tiny(NLMSG_HDRLEN, 0);
    tiny[0] = 4;
    p = Parse(tiny, 0);
    EXPECT_EQ(p.chunk, InetDiagCodec::Chunk::kError);

    // Fewer bytes than a header: nothing to read.
    std::vector<uint8_t> crumbs(5, 0xFF);
    p = Parse(crumbs, 7);
    EXPECT_EQ(p.chunk, InetDiagCodec::Chunk::kMore);
    EXPECT_TRUE(p.rows.empty());
}

TEST(InetDiagCodecTest, DumpRequestAsksForEveryConnectionStateOfTheFamily) {
    InetDiagCodec::Request out;
    const size_t n = InetDiagCodec::BuildDump(AF_INET, true, 42, out);
    ASSERT_EQ(n, NLMSG_LENGTH(sizeof(inet_diag_req_v2)));  // the filter is for AF_INET6 only
    nlmsghdr h;
    std::memcpy(&h, out.data(), sizeof h);
    EXPECT_EQ(h.nlmsg_len, n);
    EXPECT_EQ(h.nlmsg_type, SOCK_DIAG_BY_FAMILY);
    EXPECT_EQ(h.nlmsg_flags, NLM_F_REQUEST | NLM_F_DUMP);
    EXPECT_EQ(h.nlmsg_seq, 42u);
    inet_diag_req_v2 req;
    std::memcpy(&req, out.data() + NLMSG_HDRLEN, sizeof req);
    EXPECT_EQ(req.sdiag_family, AF_INET);
    EXPECT_EQ(req.sdiag_protocol, IPPROTO_TCP);
    EXPECT_EQ(req.idiag_states, KernelTcp::kAllConnectionStates);

    const size_t n6 = InetDiagCodec::BuildDump(AF_INET6, true, 43, out);
    std::memcpy(&h, out.data(), sizeof h);
    EXPECT_EQ(h.nlmsg_len, n6);
    nlattr attr;
    ASSERT_GT(n6, NLMSG_LENGTH(sizeof req) + sizeof attr);
    std::memcpy(&attr, out.data() + NLMSG_LENGTH(sizeof req), sizeof attr);
    EXPECT_EQ(attr.nla_type, INET_DIAG_REQ_BYTECODE);
    EXPECT_EQ(NLMSG_LENGTH(sizeof req) + NLA_ALIGN(attr.nla_len), n6);
    EXPECT_EQ(InetDiagCodec::BuildDump(AF_INET6, false, 44, out), NLMSG_LENGTH(sizeof req));
}

TEST(InetDiagCodecTest, SingleWalkRequestAsksForBothFamiliesWithTheSameFilter) {
    InetDiagCodec::Request v6;
    const size_t n6 = InetDiagCodec::BuildDump(AF_INET6, true, 1, v6);
    InetDiagCodec::Request out;
    const size_t n = InetDiagCodec::BuildSingleWalkDump(true, KernelTcp::kAllConnectionStates, 77, out);
    nlmsghdr h;
    std::memcpy(&h, out.data(), sizeof h);
    EXPECT_EQ(h.nlmsg_len, n);
    EXPECT_EQ(h.nlmsg_type, TCPDIAG_GETSOCK);
    EXPECT_EQ(h.nlmsg_flags, NLM_F_REQUEST | NLM_F_DUMP);
    EXPECT_EQ(h.nlmsg_seq, 77u);
    inet_diag_req req;
    std::memcpy(&req, out.data() + NLMSG_HDRLEN, sizeof req);
    EXPECT_EQ(req.idiag_family, AF_UNSPEC);
    EXPECT_EQ(req.idiag_states, KernelTcp::kAllConnectionStates);
    EXPECT_EQ(req.id.idiag_sport, 0);  // a port would leave the listeners out
    EXPECT_EQ(req.id.idiag_dport, 0);
    EXPECT_EQ(req.idiag_ext, 0);

    // The filter follows the older, longer request; its bytes are those of the AF_INET6 dump.
    const size_t v6Filter = n6 - NLMSG_LENGTH(sizeof(inet_diag_req_v2));
    ASSERT_EQ(n, NLMSG_LENGTH(sizeof req) + v6Filter);
    ASSERT_LE(n, out.size());
    EXPECT_EQ(std::memcmp(out.data() + NLMSG_LENGTH(sizeof req),
                          v6.data() + NLMSG_LENGTH(sizeof(inet_diag_req_v2)), v6Filter),
              0);
    nlattr attr;
    std::memcpy(&attr, out.data() + NLMSG_LENGTH(sizeof req), sizeof attr);
    EXPECT_EQ(attr.nla_type, INET_DIAG_REQ_BYTECODE);

    // Without the filter, and the state-less form that only asks whether the request is taken.
    const size_t bare = InetDiagCodec::BuildSingleWalkDump(false, 0, 78, out);
    EXPECT_EQ(bare, NLMSG_LENGTH(sizeof req));
    std::memcpy(&req, out.data() + NLMSG_HDRLEN, sizeof req);
    EXPECT_EQ(req.idiag_states, 0u);
}

TEST(InetDiagCodecTest, SingleWalkAnswerMixesFamilies) {
    // The older request is answered with messages of its own type, the two families interleaved
    // in hash order.
    const uint32_t mapped[4] = {0, 0, htonl(0xFFFF), Addr("127.0.0.1")};
    const uint32_t mappedPeer[4] = {0, 0, htonl(0xFFFF), Addr("127.0.0.2")};
    const uint32_t loopback6[4] = {0, 0, 0, htonl(1)};
    const inet_diag_msg a = V4Socket(1, "127.0.0.1", 40000, "127.0.0.1", 5000, 10, 1000);
    const inet_diag_msg b = V6Socket(1, loopback6, loopback6, 11);
    const inet_diag_msg c = V6Socket(8, mapped, mappedPeer, 12);
    const inet_diag_msg d = V4Socket(10, "0.0.0.0", 5000, "0.0.0.0", 0, 13, 0);
    Datagram first;
    first.Add(TCPDIAG_GETSOCK, 9, &a, sizeof a);
    first.Add(TCPDIAG_GETSOCK, 9, &b, sizeof b);
    Datagram second;
    second.Add(TCPDIAG_GETSOCK, 9, &c, sizeof c);
    second.Add(TCPDIAG_GETSOCK, 9, &d, sizeof d);
    second.AddDone(9);

    Parsed p;
    p.chunk = InetDiagCodec::ParseDump(first.bytes.data(), first.bytes.size(), 9, p.rows, p.ids, p.error);
    EXPECT_EQ(p.chunk, InetDiagCodec::Chunk::kMore);
    p.chunk = InetDiagCodec::ParseDump(second.bytes.data(), second.bytes.size(), 9, p.rows, p.ids, p.error);
    EXPECT_EQ(p.chunk, InetDiagCodec::Chunk::kDone);
    ASSERT_EQ(p.rows.size(), 4u);
    ASSERT_EQ(p.ids.size(), 4u);
    EXPECT_EQ(p.rows[0].state, kTcpEstablished);
    EXPECT_FALSE(p.rows[0].v6);
    EXPECT_EQ(p.ids[0].inode, 10u);
    EXPECT_EQ(p.ids[0].uid, 1000u);
    EXPECT_TRUE(p.rows[1].v6);
    EXPECT_EQ(std::memcmp(p.rows[1].remoteAddr6.bytes, loopback6, 16), 0);
    EXPECT_EQ(p.ids[1].inode, 11u);
    EXPECT_EQ(p.rows[2].state, kTcpCloseWait);
    EXPECT_FALSE(p.rows[2].v6);
    EXPECT_EQ(p.rows[2].localAddr, Addr("127.0.0.1"));
    EXPECT_EQ(p.rows[2].remoteAddr, Addr("127.0.0.2"));
    EXPECT_EQ(p.ids[2].inode, 12u);
    EXPECT_EQ(p.rows[3].state, kTcpListen);
    EXPECT_EQ(p.ids[3].inode, 13u);

    // The single walk's refusal by a kernel without it arrives as an error of the request.
    Datagram refused;
    refused.AddError(10, -EOPNOTSUPP);
    p = Parse(refused.bytes, 10);
    EXPECT_EQ(p.chunk, InetDiagCodec::Chunk::kError);
    EXPECT_EQ(p.error, EOPNOTSUPP);
}

TEST(InetDiagCodecTest, ExactRequestNamesTheFourTupleAndCookie) {
    TcpRow row{kTcpDeleteTcb, Addr("127.0.0.1"), htons(40000), Addr("127.0.0.2"), htons(5000), 0};
    const uint32_t cookie[2] = {0x11223344, 0x55667788};
    InetDiagCodec::Request out;
    size_t n = InetDiagCodec::BuildExact(SOCK_DESTROY, AF_INET, row, cookie, 9, out);
    nlmsghdr h;
    std::memcpy(&h, out.data(), sizeof h);
    EXPECT_EQ(h.nlmsg_len, n);
    EXPECT_EQ(h.nlmsg_type, SOCK_DESTROY);
    EXPECT_EQ(h.nlmsg_flags, NLM_F_REQUEST | NLM_F_ACK);
    inet_diag_req_v2 req;
    std::memcpy(&req, out.data() + NLMSG_HDRLEN, sizeof req);
    EXPECT_EQ(req.id.idiag_src[0], row.localAddr);
    EXPECT_EQ(req.id.idiag_dst[0], row.remoteAddr);
    EXPECT_EQ(req.id.idiag_sport, htons(40000));
    EXPECT_EQ(req.id.idiag_dport, htons(5000));
    EXPECT_EQ(req.id.idiag_cookie[0], cookie[0]);
    EXPECT_EQ(req.id.idiag_cookie[1], cookie[1]);

    n = InetDiagCodec::BuildExact(SOCK_DIAG_BY_FAMILY, AF_INET6, row, cookie, 10, out);
    std::memcpy(&h, out.data(), sizeof h);
    EXPECT_EQ(h.nlmsg_flags, NLM_F_REQUEST);
    std::memcpy(&req, out.data() + NLMSG_HDRLEN, sizeof req);
    EXPECT_EQ(req.sdiag_family, AF_INET6);
    uint32_t v4 = 0;
    ASSERT_TRUE(KernelTcp::UnmapV4(req.id.idiag_src, v4));
    EXPECT_EQ(v4, row.localAddr);
    ASSERT_TRUE(KernelTcp::UnmapV4(req.id.idiag_dst, v4));
    EXPECT_EQ(v4, row.remoteAddr);

    // An IPv6 row's own addresses are sent, never an IPv4-mapped form.
    TcpRow row6{kTcpDeleteTcb, 0, htons(7000), 0, htons(40001), 0};
    row6.v6 = true;
    inet_pton(AF_INET6, "2001:db8::1", row6.localAddr6.bytes);
    inet_pton(AF_INET6, "::1", row6.remoteAddr6.bytes);
    n = InetDiagCodec::BuildExact(SOCK_DESTROY, AF_INET6, row6, cookie, 11, out);
    std::memcpy(&req, out.data() + NLMSG_HDRLEN, sizeof req);
    EXPECT_EQ(req.sdiag_family, AF_INET6);
    EXPECT_EQ(std::memcmp(req.id.idiag_src, row6.localAddr6.bytes, 16), 0);
    EXPECT_EQ(std::memcmp(req.id.idiag_dst, row6.remoteAddr6.bytes, 16), 0);
    EXPECT_EQ(req.id.idiag_sport, htons(7000));
    EXPECT_EQ(req.id.idiag_dport, htons(40001));
    EXPECT_EQ(req.id.idiag_cookie[1], cookie[1]);
}

TEST(InetDiagCodecTest, ExactReplyIsTheSocketOrTheError) {
    Datagram d;
    d.AddError(3, -ENOENT);  // a late answer to an earlier request
    d.AddSocket(4, V4Socket(1, "10.0.0.1", 3, "10.0.0.2", 4, 77, 0));
    InetDiagCodec::ExactReply r = InetDiagCodec::ParseExact(d.bytes.data(), d.bytes.size(), 4);
    ASSERT_TRUE(r.present);
    ASSERT_TRUE(r.hasSocket);
    EXPECT_EQ(r.socket.idiag_inode, 77u);

    r = InetDiagCodec::ParseExact(d.bytes.data(), d.bytes.size(), 3);
    ASSERT_TRUE(r.present);
    EXPECT_FALSE(r.hasSocket);
    EXPECT_EQ(r.error, ENOENT);

    Datagram ack;
    ack.AddError(5, 0);
    r = InetDiagCodec::ParseExact(ack.bytes.data(), ack.bytes.size(), 5);
    EXPECT_TRUE(r.present);
    EXPECT_EQ(r.error, 0);

    r = InetDiagCodec::ParseExact(ack.bytes.data(), ack.bytes.size(), 6);
    EXPECT_FALSE(r.present);
    r = InetDiagCodec::ParseExact(ack.bytes.data(), ack.bytes.size() - 1, 5);
    EXPECT_FALSE(r.present);
}

}  // namespace
}  // namespace varnel
