// The reset helper's request grammar: what is a request, and every way a line is refused.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

#include "platform/ResetRequestLine.h"

namespace varnel {
namespace {

std::string RefusalOf(const std::string& line) {
    const ResetRequestLine::Parsed p = ResetRequestLine::Parse(line);
    EXPECT_FALSE(p.ok) << line;
    return p.refusal;
}

TEST(ResetRequestLineTest, Ipv4RequestBecomesTheRowToReset) {
    const auto p = ResetRequestLine::Parse("RESET 127.0.0.1 40000 10.1.2.3 443");
    ASSERT_TRUE(p.ok) << p.refusal;
    EXPECT_EQ(p.row.state, kTcpDeleteTcb);
    EXPECT_FALSE(p.row.v6);
    EXPECT_EQ(p.row.localAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(p.row.remoteAddr, inet_addr("10.1.2.3"));
    EXPECT_EQ(p.row.localPort, htons(40000));
    EXPECT_EQ(p.row.remotePort, htons(443));
    EXPECT_EQ(p.row.owningPid, 0u);
}

TEST(ResetRequestLineTest, Ipv6RequestBecomesAnIpv6Row) {
    const auto p = ResetRequestLine::Parse("RESET 2001:db8::1 65535 fe80::2 1");
    ASSERT_TRUE(p.ok) << p.refusal;
    EXPECT_TRUE(p.row.v6);
    in6_addr local{}, remote{};
    inet_pton(AF_INET6, "2001:db8::1", &local);
    inet_pton(AF_INET6, "fe80::2", &remote);
    EXPECT_EQ(std::memcmp(p.row.localAddr6.bytes, local.s6_addr, 16), 0);
    EXPECT_EQ(std::memcmp(p.row.remoteAddr6.bytes, remote.s6_addr, 16), 0);
    EXPECT_EQ(p.row.localAddr, 0u);
    EXPECT_EQ(p.row.localPort, htons(65535));
    EXPECT_EQ(p.row.remotePort, htons(1));
}

TEST(ResetRequestLineTest, TwoMappedAddressesNameAnIpv4Connection) {
    const auto p = ResetRequestLine::Parse("RESET ::ffff:127.0.0.1 80 ::ffff:127.0.0.2 5000");
    ASSERT_TRUE(p.ok) << p.refusal;
    EXPECT_FALSE(p.row.v6);
    EXPECT_EQ(p.row.localAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(p.row.remoteAddr, inet_addr("127.0.0.2"));
    EXPECT_EQ(RefusalOf("RESET ::ffff:127.0.0.1 80 ::1 5000"), "mixed-families");
}

TEST(ResetRequestLineTest, MissingAndExtraFieldsAreMalformed) {
    EXPECT_EQ(RefusalOf("RESET"), "malformed");
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 1 127.0.0.2"), "malformed");
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 1 127.0.0.2 2 extra"), "malformed");
    EXPECT_EQ(RefusalOf(""), "malformed");
}

TEST(ResetRequestLineTest, SpacingOtherThanSingleSpacesIsRefused) {
    EXPECT_FALSE(ResetRequestLine::Parse("RESET  127.0.0.1 1 127.0.0.2 2").ok);
    EXPECT_FALSE(ResetRequestLine::Parse(" RESET 127.0.0.1 1 127.0.0.2 2").ok);
    EXPECT_FALSE(ResetRequestLine::Parse("RESET 127.0.0.1 1 127.0.0.2 2 ").ok);
    EXPECT_EQ(RefusalOf("RESET\t127.0.0.1 1 127.0.0.2 2"), "malformed");
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 1 127.0.0.2 2\r"), "malformed");
    EXPECT_EQ(RefusalOf(std::string("RESET 127.0.0.1 1 127.0.0.2 2\0", 30)), "malformed");
}

TEST(ResetRequestLineTest, BadAddressesAreRefused) {
    EXPECT_EQ(RefusalOf("RESET 127.0.0 1 127.0.0.2 2"), "bad-address");
    EXPECT_EQ(RefusalOf("RESET 256.0.0.1 1 127.0.0.2 2"), "bad-address");
    EXPECT_EQ(RefusalOf("RESET localhost 1 127.0.0.2 2"), "bad-address");
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 1 2001:db8::g 2"), "bad-address");
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 1 ::1 2"), "mixed-families");
    EXPECT_EQ(RefusalOf("RESET 0.0.0.0 1 127.0.0.2 2"), "bad-address");
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 1 0.0.0.0 2"), "bad-address");
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 1 " + std::string(60, '1') + " 2"), "bad-address");
}

TEST(ResetRequestLineTest, BadPortsAreRefused) {
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 0 127.0.0.2 2"), "bad-port");
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 1 127.0.0.2 0"), "bad-port");
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 65536 127.0.0.2 2"), "bad-port");
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 99999999999 127.0.0.2 2"), "bad-port");
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 -1 127.0.0.2 2"), "bad-port");
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 +1 127.0.0.2 2"), "bad-port");
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 080 127.0.0.2 2"), "bad-port");
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 0x50 127.0.0.2 2"), "bad-port");
}

TEST(ResetRequestLineTest, AListenersTupleIsRefused) {
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 8080 0.0.0.0 0"), "listener");
    EXPECT_EQ(RefusalOf("RESET ::1 8080 :: 0"), "listener");
}

TEST(ResetRequestLineTest, OtherRequestsAreUnknown) {
    EXPECT_EQ(RefusalOf("KILL 127.0.0.1 1 127.0.0.2 2"), "unknown-request");
    EXPECT_EQ(RefusalOf("reset 127.0.0.1 1 127.0.0.2 2"), "unknown-request");
}

TEST(ResetRequestLineTest, ALineOverTheLimitIsRefused) {
    EXPECT_EQ(RefusalOf("RESET 127.0.0.1 1 127.0.0.2 2" + std::string(ResetRequestLine::kMaxLength, '0')),
              "line-too-long");
}

TEST(ResetRequestLineTest, AnswersNameTheResult) {
    EXPECT_EQ(ResetRequestLine::Answer({ResetStatus::kOk, 0}), "OK");
    EXPECT_EQ(ResetRequestLine::Answer({ResetStatus::kNoSuchConnection, ENOENT}), "GONE");
    EXPECT_EQ(ResetRequestLine::Answer({ResetStatus::kPermissionDenied, EPERM}), "ERROR EPERM");
    EXPECT_EQ(ResetRequestLine::Answer({ResetStatus::kNotSupported, EOPNOTSUPP}), "ERROR EOPNOTSUPP");
    EXPECT_EQ(ResetRequestLine::Answer({ResetStatus::kFailed, 0}), "ERROR errno-0");
    EXPECT_EQ(ResetRequestLine::Refused("listener"), "REFUSED listener");
}

TEST(ResetRequestLineTest, TheStartersRequestsAndReadingsRoundTripWithTheHelpersSide) {
    for (const char* line : {"RESET 10.0.0.1 50000 93.184.0.2 80", "RESET 2001:db8::1 40001 ::1 7000"}) {
        const ResetRequestLine::Parsed parsed = ResetRequestLine::Parse(line);
        ASSERT_TRUE(parsed.ok) << line;
        EXPECT_EQ(ResetRequestLine::Request(parsed.row), line);
    }
    for (const ResetResult& r : {ResetResult{ResetStatus::kOk, 0}, ResetResult{ResetStatus::kNoSuchConnection, 0},
                                 ResetResult{ResetStatus::kPermissionDenied, EPERM},
                                 ResetResult{ResetStatus::kNotSupported, EOPNOTSUPP},
                                 ResetResult{ResetStatus::kFailed, ENOBUFS}}) {
        const ResetResult back = ResetRequestLine::ReadAnswer(ResetRequestLine::Answer(r));
        EXPECT_EQ(back.status, r.status) << ResetRequestLine::Answer(r);
        EXPECT_EQ(back.error, r.status == ResetStatus::kOk || r.status == ResetStatus::kNoSuchConnection ? 0 : r.error);
    }
}

TEST(ResetRequestLineTest, ARefusalOrANonAnswerIsRefusedWithPrintableReason) {
    const ResetResult refused = ResetRequestLine::ReadAnswer("REFUSED listener");
    EXPECT_EQ(refused.status, ResetStatus::kRefused);
    EXPECT_EQ(refused.detail, "the reset helper turned the request down (listener)");
    for (const char* odd : {"", "ok", "ERROR", "ERROR ENOSUCHNAME", "OK \x1b[2J"}) {
        const ResetResult r = ResetRequestLine::ReadAnswer(odd);
        EXPECT_EQ(r.status, ResetStatus::kRefused) << odd;
        EXPECT_FALSE(r.ok());
        for (char c : r.detail) EXPECT_TRUE(c >= 0x20 && c < 0x7f) << r.detail;
    }
}

}  // namespace
}  // namespace varnel
