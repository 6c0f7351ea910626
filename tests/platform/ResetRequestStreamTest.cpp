// The reset helper's conversation on the fake reset: one answer per line, in order, and only
// well-formed requests reach the reset.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "platform/ResetRequestLine.h"
#include "platform/ResetRequestStream.h"
#include "platform/fake/FakeConnectionReset.h"

namespace varnel {
namespace {

class ResetRequestStreamTest : public ::testing::Test {
  protected:
    std::string Feed(std::string_view bytes) {
        std::string answers;
        stream.Feed(bytes, answers);
        return answers;
    }
    FakeConnectionReset reset;
    ResetRequestStream stream{reset};
};

TEST_F(ResetRequestStreamTest, EachLineGetsOneAnswerInOrder) {
    EXPECT_EQ(Feed("RESET 127.0.0.1 1 127.0.0.2 2\nKILL x\nRESET ::1 3 ::2 4\n\n"),
              "OK\nREFUSED unknown-request\nOK\nREFUSED malformed\n");
    ASSERT_EQ(reset.calls.size(), 2u);
    EXPECT_FALSE(reset.calls[0].v6);
    EXPECT_EQ(reset.calls[0].localPort, htons(1));
    EXPECT_TRUE(reset.calls[1].v6);
    EXPECT_EQ(reset.calls[1].remotePort, htons(4));
}

TEST_F(ResetRequestStreamTest, TheResetsResultIsTheAnswer) {
    reset.answer = {ResetStatus::kNoSuchConnection, ENOENT};
    EXPECT_EQ(Feed("RESET 127.0.0.1 1 127.0.0.2 2\n"), "GONE\n");
    reset.answer = {ResetStatus::kPermissionDenied, EPERM};
    EXPECT_EQ(Feed("RESET 127.0.0.1 1 127.0.0.2 2\n"), "ERROR EPERM\n");
}

TEST_F(ResetRequestStreamTest, ALineSplitAcrossReadsIsOneRequest) {
    EXPECT_EQ(Feed("RESET 127.0"), "");
    EXPECT_EQ(Feed(".0.1 1 127.0.0.2"), "");
    EXPECT_EQ(Feed(" 2\nRES"), "OK\n");
    EXPECT_EQ(Feed("ET 127.0.0.1 1 127.0.0.2 3\n"), "OK\n");
    EXPECT_EQ(reset.calls.size(), 2u);
}

TEST_F(ResetRequestStreamTest, AnOverlongLineIsRefusedOnceAndTheNextLineStillCounts) {
    const std::string longLine(ResetRequestLine::kMaxLength + 1, 'A');
    EXPECT_EQ(Feed(longLine), "");
    EXPECT_EQ(Feed(longLine), "");  // still the same line: dropped, not buffered
    EXPECT_EQ(Feed("\nRESET 127.0.0.1 1 127.0.0.2 2\n"), "REFUSED line-too-long\nOK\n");
    EXPECT_EQ(reset.calls.size(), 1u);
}

TEST_F(ResetRequestStreamTest, ALineOfExactlyTheLimitIsParsed) {
    // A valid request padded into the address field would be refused by its address, not length.
    const std::string atLimit = "RESET 127.0.0.1 1 127.0.0.2 " +
                                std::string(ResetRequestLine::kMaxLength - 28, '1');
    ASSERT_EQ(atLimit.size(), ResetRequestLine::kMaxLength);
    EXPECT_EQ(Feed(atLimit + "\n"), "REFUSED bad-port\n");
    EXPECT_EQ(Feed(atLimit + "1\n"), "REFUSED line-too-long\n");
}

TEST_F(ResetRequestStreamTest, AnUnterminatedLastLineIsRefusedNotCarriedOut) {
    EXPECT_EQ(Feed("RESET 127.0.0.1 1 127.0.0.2 2"), "");
    std::string answers;
    stream.Finish(answers);
    EXPECT_EQ(answers, "REFUSED unterminated\n");
    EXPECT_TRUE(reset.calls.empty());
    answers.clear();
    stream.Finish(answers);
    EXPECT_EQ(answers, "");
}

TEST_F(ResetRequestStreamTest, AnOverlongUnterminatedLastLineIsRefusedAsTooLong) {
    EXPECT_EQ(Feed("RESET 127.0.0.1 1 127.0.0.2 2\n" + std::string(1000, 'x')), "OK\n");
    std::string answers;
    stream.Finish(answers);
    EXPECT_EQ(answers, "REFUSED line-too-long\n");
    EXPECT_EQ(reset.calls.size(), 1u);
}

}  // namespace
}  // namespace varnel
