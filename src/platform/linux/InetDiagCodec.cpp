#include "platform/linux/InetDiagCodec.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/KernelTcp.h"

namespace varnel {

namespace {

// The v4-mapped filter: "source is any IPv4(-mapped) address" and "destination is any
// IPv4(-mapped) address". A host condition of family AF_INET with a prefix of 0 bits matches every
// IPv4 socket, and an IPv6 socket only when its address is IPv4-mapped, so the same filter serves
// the AF_INET6 dump and the dump of both families. A failing test jumps 4 bytes past the end,
// which rejects the socket.
constexpr size_t kHostCondOpSize = sizeof(inet_diag_bc_op) + sizeof(inet_diag_hostcond) + 4;
static_assert(kHostCondOpSize == 16);
constexpr size_t kFilterSize = 2 * kHostCondOpSize;

size_t PutFilter(uint8_t* at) {
    nlattr attr{};
    attr.nla_len = static_cast<uint16_t>(NLA_HDRLEN + kFilterSize);
    attr.nla_type = INET_DIAG_REQ_BYTECODE;
    std::memcpy(at, &attr, sizeof attr);
    uint8_t* op = at + NLA_HDRLEN;
    for (int i = 0; i < 2; ++i, op += kHostCondOpSize) {
        inet_diag_bc_op code{};
        code.code = i == 0 ? INET_DIAG_BC_S_COND : INET_DIAG_BC_D_COND;
        code.yes = kHostCondOpSize;
        code.no = static_cast<unsigned short>(kFilterSize - i * kHostCondOpSize + 4);
        inet_diag_hostcond cond{};
        cond.family = AF_INET;
        cond.prefix_len = 0;
        cond.port = -1;
        std::memcpy(op, &code, sizeof code);
        std::memcpy(op + sizeof code, &cond, sizeof cond);
        std::memset(op + sizeof code + sizeof cond, 0, 4);  // the 4 address bytes, unused with prefix 0
    }
    return NLA_ALIGN(attr.nla_len);
}

// Writes the netlink header and the request body `req` of `reqSize` bytes; `extra` bytes (the
// filter) follow, zeroed, for the caller to fill.
size_t PutHeaderAndRequest(uint16_t type, uint16_t flags, uint32_t seq, const void* req, size_t reqSize,
                           size_t extra, InetDiagCodec::Request& out) {
    const size_t total = NLMSG_LENGTH(reqSize) + extra;
    nlmsghdr nlh{};
    nlh.nlmsg_len = static_cast<uint32_t>(total);
    nlh.nlmsg_type = type;
    nlh.nlmsg_flags = flags;
    nlh.nlmsg_seq = seq;
    nlh.nlmsg_pid = 0;
    out.fill(0);
    std::memcpy(out.data(), &nlh, sizeof nlh);
    std::memcpy(out.data() + NLMSG_HDRLEN, req, reqSize);
    return total;
}

constexpr size_t kFilterAttrSize = NLA_ALIGN(NLA_HDRLEN + kFilterSize);
static_assert(NLMSG_LENGTH(sizeof(inet_diag_req_v2)) + kFilterAttrSize <= InetDiagCodec::kMaxRequestSize);
static_assert(NLMSG_LENGTH(sizeof(inet_diag_req)) + kFilterAttrSize <= InetDiagCodec::kMaxRequestSize);

// The errno of a kernel status: negative errno values are errors, 0 is success. Anything else is
// no status the kernel sends (EPROTO).
int ErrnoOfStatus(int status) {
    if (status == 0) return 0;
    return status < 0 && status >= -4095 ? -status : EPROTO;
}

}  // namespace

size_t InetDiagCodec::BuildDump(uint8_t family, bool onlyV4Mapped, uint32_t seq, Request& out) {
    inet_diag_req_v2 req{};
    req.sdiag_family = family;
    req.sdiag_protocol = IPPROTO_TCP;
    req.idiag_states = KernelTcp::kAllConnectionStates;
    req.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    req.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    const bool filter = onlyV4Mapped && family == AF_INET6;
    const size_t total = PutHeaderAndRequest(SOCK_DIAG_BY_FAMILY, NLM_F_REQUEST | NLM_F_DUMP, seq, &req,
                                             sizeof req, filter ? kFilterAttrSize : 0, out);
    if (filter) PutFilter(out.data() + NLMSG_LENGTH(sizeof req));
    return total;
}

size_t InetDiagCodec::BuildSingleWalkDump(bool onlyV4Mapped, uint32_t states, uint32_t seq, Request& out) {
    inet_diag_req req{};
    req.idiag_family = AF_UNSPEC;
    req.idiag_states = states;
    req.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    req.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    const size_t total = PutHeaderAndRequest(TCPDIAG_GETSOCK, NLM_F_REQUEST | NLM_F_DUMP, seq, &req,
                                             sizeof req, onlyV4Mapped ? kFilterAttrSize : 0, out);
    if (onlyV4Mapped) PutFilter(out.data() + NLMSG_LENGTH(sizeof req));
    return total;
}

size_t InetDiagCodec::BuildExact(uint16_t type, uint8_t family, const TcpRow& row, const uint32_t cookie[2],
                                 uint32_t seq, Request& out) {
    inet_diag_req_v2 req{};
    req.sdiag_family = family;
    req.sdiag_protocol = IPPROTO_TCP;
    req.idiag_states = KernelTcp::kAllConnectionStates;
    req.id.idiag_sport = static_cast<uint16_t>(row.localPort);
    req.id.idiag_dport = static_cast<uint16_t>(row.remotePort);
    if (row.v6) {
        std::memcpy(req.id.idiag_src, row.localAddr6.bytes, sizeof row.localAddr6.bytes);
        std::memcpy(req.id.idiag_dst, row.remoteAddr6.bytes, sizeof row.remoteAddr6.bytes);
    } else if (family == AF_INET6) {
        req.id.idiag_src[2] = htonl(0x0000FFFFu);
        req.id.idiag_src[3] = row.localAddr;
        req.id.idiag_dst[2] = htonl(0x0000FFFFu);
        req.id.idiag_dst[3] = row.remoteAddr;
    } else {
        req.id.idiag_src[0] = row.localAddr;
        req.id.idiag_dst[0] = row.remoteAddr;
    }
    req.id.idiag_cookie[0] = cookie[0];
    req.id.idiag_cookie[1] = cookie[1];
    const uint16_t flags = type == SOCK_DESTROY ? NLM_F_REQUEST | NLM_F_ACK : NLM_F_REQUEST;
    return PutHeaderAndRequest(type, flags, seq, &req, sizeof req, 0, out);
}

bool InetDiagCodec::RowFromMessage(const inet_diag_msg& msg, TcpRow& row, SocketIdentity& id) {
    uint32_t local = 0;
    uint32_t remote = 0;
    bool v6 = false;
    if (msg.idiag_family == AF_INET) {
        local = msg.id.idiag_src[0];
        remote = msg.id.idiag_dst[0];
    } else if (msg.idiag_family == AF_INET6) {
        v6 = !KernelTcp::UnmapV4(msg.id.idiag_src, local) || !KernelTcp::UnmapV4(msg.id.idiag_dst, remote);
    } else {
        return false;
    }
    const uint32_t state = KernelTcp::TableState(msg.idiag_state);
    if (state == 0) return false;
    row.state = state;
    row.v6 = v6;
    if (v6) {
        local = remote = 0;
        std::memcpy(row.localAddr6.bytes, msg.id.idiag_src, sizeof row.localAddr6.bytes);
        std::memcpy(row.remoteAddr6.bytes, msg.id.idiag_dst, sizeof row.remoteAddr6.bytes);
    } else {
        row.localAddr6 = Ip6Address{};
        row.remoteAddr6 = Ip6Address{};
    }
    row.localAddr = local;
    row.localPort = msg.id.idiag_sport;
    row.remoteAddr = remote;
    row.remotePort = msg.id.idiag_dport;
    row.owningPid = 0;
    id.inode = msg.idiag_inode;
    id.uid = msg.idiag_uid;
    return true;
}

InetDiagCodec::Chunk InetDiagCodec::ParseDump(const uint8_t* data, size_t len, uint32_t seq,
                                              std::vector<TcpRow>& rows, std::vector<SocketIdentity>& ids,
                                              int& error) {
    size_t at = 0;
    while (len - at >= NLMSG_HDRLEN) {
        nlmsghdr nlh;
        std::memcpy(&nlh, data + at, sizeof nlh);
        if (nlh.nlmsg_len < NLMSG_HDRLEN || nlh.nlmsg_len > len - at) {
            error = EBADMSG;
            return Chunk::kError;
        }
        const uint8_t* payload = data + at + NLMSG_HDRLEN;
        const size_t payloadLen = nlh.nlmsg_len - NLMSG_HDRLEN;
        if (nlh.nlmsg_seq == seq) {
            if (nlh.nlmsg_type == NLMSG_DONE) {
                // A dump that failed part way ends with its error in place of the count.
                int status = 0;
                if (payloadLen >= sizeof status) std::memcpy(&status, payload, sizeof status);
                if (status < 0) {
                    error = ErrnoOfStatus(status);
                    return Chunk::kError;
                }
                return Chunk::kDone;
            }
            if (nlh.nlmsg_type == NLMSG_ERROR) {
                nlmsgerr err{};
                if (payloadLen < sizeof err.error) {
                    error = EBADMSG;
                    return Chunk::kError;
                }
                std::memcpy(&err.error, payload, sizeof err.error);
                error = err.error != 0 ? ErrnoOfStatus(err.error) : EPROTO;
                return Chunk::kError;
            }
            if (nlh.nlmsg_type == SOCK_DIAG_BY_FAMILY || nlh.nlmsg_type == TCPDIAG_GETSOCK) {
                if (payloadLen < sizeof(inet_diag_msg)) {
                    error = EBADMSG;
                    return Chunk::kError;
                }
                inet_diag_msg msg;
                std::memcpy(&msg, payload, sizeof msg);
                TcpRow row;
                SocketIdentity id;
                if (RowFromMessage(msg, row, id)) {
                    rows.push_back(row);
                    ids.push_back(id);
                }
            }
        }
        const size_t step = NLMSG_ALIGN(nlh.nlmsg_len);
        if (step >= len - at) break;
        at += step;
    }
    return Chunk::kMore;
}

InetDiagCodec::ExactReply InetDiagCodec::ParseExact(const uint8_t* data, size_t len, uint32_t seq) {
    ExactReply reply;
    size_t at = 0;
    while (len - at >= NLMSG_HDRLEN) {
        nlmsghdr nlh;
        std::memcpy(&nlh, data + at, sizeof nlh);
        if (nlh.nlmsg_len < NLMSG_HDRLEN || nlh.nlmsg_len > len - at) break;
        const uint8_t* payload = data + at + NLMSG_HDRLEN;
        const size_t payloadLen = nlh.nlmsg_len - NLMSG_HDRLEN;
        if (nlh.nlmsg_seq == seq) {
            if (nlh.nlmsg_type == NLMSG_ERROR && payloadLen >= sizeof(int)) {
                int code = 0;
                std::memcpy(&code, payload, sizeof code);
                reply.present = true;
                reply.error = ErrnoOfStatus(code);
                return reply;
            }
            if (nlh.nlmsg_type == SOCK_DIAG_BY_FAMILY && payloadLen >= sizeof(inet_diag_msg)) {
                reply.present = true;
                reply.hasSocket = true;
                std::memcpy(&reply.socket, payload, sizeof reply.socket);
                return reply;
            }
        }
        const size_t step = NLMSG_ALIGN(nlh.nlmsg_len);
        if (step >= len - at) break;
        at += step;
    }
    return reply;
}

}  // namespace varnel
