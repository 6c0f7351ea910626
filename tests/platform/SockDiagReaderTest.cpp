#include <gtest/gtest.h>

#include <cerrno>

#include "platform/linux/SockDiagReader.h"

namespace varnel {
namespace {

using Probe = SockDiagReader::Probe;

TEST(SockDiagReaderTest, SingleWalkOnlyWhereTheKernelTakesIt) {
    EXPECT_EQ(SockDiagReader::AfterProbe(0, true), Probe::kSingleWalk);
    EXPECT_EQ(SockDiagReader::AfterProbe(0, false), Probe::kSingleWalk);
    // EINVAL with the filter may be the filter's refusal: asked again without it, the request
    // itself is either taken or refused.
    EXPECT_EQ(SockDiagReader::AfterProbe(EINVAL, true), Probe::kAgainWithoutFilter);
    EXPECT_EQ(SockDiagReader::AfterProbe(EINVAL, false), Probe::kPerFamily);
    for (bool filter : {true, false}) {
        EXPECT_EQ(SockDiagReader::AfterProbe(ENOENT, filter), Probe::kPerFamily);
        EXPECT_EQ(SockDiagReader::AfterProbe(EOPNOTSUPP, filter), Probe::kPerFamily);
        // No answer is no refusal: nothing is decided from it.
        EXPECT_EQ(SockDiagReader::AfterProbe(EAGAIN, filter), Probe::kFailed);
        EXPECT_EQ(SockDiagReader::AfterProbe(ENOBUFS, filter), Probe::kFailed);
        EXPECT_EQ(SockDiagReader::AfterProbe(EBADMSG, filter), Probe::kFailed);
    }
}

}  // namespace
}  // namespace varnel
