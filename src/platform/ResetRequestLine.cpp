#include "platform/ResetRequestLine.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace varnel {

namespace {

// Splits on single spaces; an empty field (two spaces, a leading or trailing space) stays empty
// so that the caller refuses it.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t space = line.find(' ', start);
        if (space == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, space - start));
        start = space + 1;
    }
}

// Decimal 0..65535, digits only, no sign, no leading zero except "0" itself.
bool ParsePort(std::string_view text, uint32_t& port) {
    if (text.empty() || text.size() > 5) return false;
    if (text.size() > 1 && text[0] == '0') return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > 65535) return false;
    port = value;
    return true;
}

struct Address {
    bool v6 = false;
    uint32_t v4 = 0;  // network order
    Ip6Address v6Bytes{};
};

bool IsMapped(const Ip6Address& a) {
    static const uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::memcmp(a.bytes, kPrefix, sizeof kPrefix) == 0;
}

// inet_pton needs a terminated string; the field is bounded by the line limit.
bool ParseAddress(std::string_view text, Address& out) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return false;
    char buffer[INET6_ADDRSTRLEN] = {};
    std::memcpy(buffer, text.data(), text.size());
    in_addr v4{};
    if (inet_pton(AF_INET, buffer, &v4) == 1) {
        out.v6 = false;
        out.v4 = v4.s_addr;
        return true;
    }
    in6_addr v6{};
    if (text.find(':') != std::string_view::npos && inet_pton(AF_INET6, buffer, &v6) == 1) {
        out.v6 = true;
        std::memcpy(out.v6Bytes.bytes, v6.s6_addr, 16);
        return true;
    }
    return false;
}

uint32_t MappedV4(const Ip6Address& a) {
    uint32_t v4;
    std::memcpy(&v4, a.bytes + 12, 4);
    return v4;
}

}  // namespace

ResetRequestLine::Parsed ResetRequestLine::Parse(std::string_view line) {
    Parsed p;
    for (char c : line) {
        if (c < 0x20 || c > 0x7e) {
            p.refusal = "malformed";
            return p;
        }
    }
    if (line.size() > kMaxLength) {
        p.refusal = "line-too-long";
        return p;
    }
    const std::vector<std::string_view> f = Fields(line);
    if (f[0] != "RESET") {
        p.refusal = f[0].empty() ? "malformed" : "unknown-request";
        return p;
    }
    if (f.size() != 5) {
        p.refusal = "malformed";
        return p;
    }
    Address local, remote;
    if (!ParseAddress(f[1], local) || !ParseAddress(f[3], remote)) {
        p.refusal = "bad-address";
        return p;
    }
    uint32_t localPort = 0, remotePort = 0;
    if (!ParsePort(f[2], localPort) || !ParsePort(f[4], remotePort)) {
        p.refusal = "bad-port";
        return p;
    }
    if (local.v6 != remote.v6) {
        p.refusal = "mixed-families";
        return p;
    }
    if (local.v6 && (IsMapped(local.v6Bytes) || IsMapped(remote.v6Bytes))) {
        if (!IsMapped(local.v6Bytes) || !IsMapped(remote.v6Bytes)) {
            p.refusal = "mixed-families";
            return p;
        }
        local = Address{false, MappedV4(local.v6Bytes), {}};
        remote = Address{false, MappedV4(remote.v6Bytes), {}};
    }
    const bool remoteUnspecified = remote.v6 ? remote.v6Bytes.IsUnspecified() : remote.v4 == 0;
    const bool localUnspecified = local.v6 ? local.v6Bytes.IsUnspecified() : local.v4 == 0;
    if (remoteUnspecified && remotePort == 0) {
        p.refusal = "listener";
        return p;
    }
    if (localPort == 0 || remotePort == 0) {
        p.refusal = "bad-port";
        return p;
    }
    if (localUnspecified || remoteUnspecified) {
        p.refusal = "bad-address";
        return p;
    }
    p.ok = true;
    p.row = TcpRow{kTcpDeleteTcb, local.v4, htons(static_cast<uint16_t>(localPort)), remote.v4,
                   htons(static_cast<uint16_t>(remotePort)), 0};
    if (local.v6) {
        p.row.v6 = true;
        p.row.localAddr6 = local.v6Bytes;
        p.row.remoteAddr6 = remote.v6Bytes;
    }
    return p;
}

std::string ResetRequestLine::Answer(const ResetResult& result) {
    switch (result.status) {
        case ResetStatus::kOk:
            return "OK";
        case ResetStatus::kNoSuchConnection:
            return "GONE";
        default:
            break;
    }
    const char* name = result.error != 0 ? strerrorname_np(result.error) : nullptr;
    if (name != nullptr) return std::string("ERROR ") + name;
    return "ERROR errno-" + std::to_string(result.error);
}

std::string ResetRequestLine::Refused(std::string_view reason) {
    return "REFUSED " + std::string(reason);
}

namespace {

std::string AddressText(bool v6, uint32_t v4, const Ip6Address& address6) {
    char text[INET6_ADDRSTRLEN] = {};
    if (v6)
        inet_ntop(AF_INET6, address6.bytes, text, sizeof text);
    else
        inet_ntop(AF_INET, &v4, text, sizeof text);
    return text;
}

// The errno whose name is `name` (as strerrorname_np gives it), or 0.
int ErrnoNamed(std::string_view name) {
    for (int e = 1; e < 4096; ++e) {
        const char* known = strerrorname_np(e);
        if (known != nullptr && name == known) return e;
    }
    return 0;
}

// Keeps a helper's text printable and short before it reaches a report.
std::string Printable(std::string_view text) {
    std::string out;
    for (char c : text.substr(0, 80)) out += (c >= 0x20 && c < 0x7f) ? c : '?';
    return out;
}

}  // namespace

std::string ResetRequestLine::Request(const TcpRow& row) {
    return "RESET " + AddressText(row.v6, row.localAddr, row.localAddr6) + " " +
           std::to_string(ntohs(static_cast<uint16_t>(row.localPort))) + " " +
           AddressText(row.v6, row.remoteAddr, row.remoteAddr6) + " " +
           std::to_string(ntohs(static_cast<uint16_t>(row.remotePort)));
}

ResetResult ResetRequestLine::ReadAnswer(std::string_view line) {
    ResetResult r;
    if (line == "OK") {
        r.status = ResetStatus::kOk;
        return r;
    }
    if (line == "GONE") {
        r.status = ResetStatus::kNoSuchConnection;
        return r;
    }
    constexpr std::string_view kError = "ERROR ";
    constexpr std::string_view kRefusedWord = "REFUSED ";
    if (line.substr(0, kError.size()) == kError) {
        const std::string_view name = line.substr(kError.size());
        r.error = ErrnoNamed(name);
        if (r.error == EPERM || r.error == EACCES)
            r.status = ResetStatus::kPermissionDenied;
        else if (r.error == EOPNOTSUPP)
            r.status = ResetStatus::kNotSupported;
        else
            r.status = ResetStatus::kFailed;
        if (r.error == 0) {
            r.status = ResetStatus::kRefused;
            r.detail = "the reset helper failed (" + Printable(name) + ")";
        }
        return r;
    }
    r.status = ResetStatus::kRefused;
    if (line.substr(0, kRefusedWord.size()) == kRefusedWord)
        r.detail = "the reset helper turned the request down (" + Printable(line.substr(kRefusedWord.size())) + ")";
    else
        r.detail = "the reset helper gave no answer it should give (" + Printable(line) + ")";
    return r;
}

}  // namespace varnel
