#include <gtest/gtest.h>
#include <time.h>

#include "platform/linux/SystemClock.h"

namespace varnel {
namespace {

TEST(SystemClockTest, TickIsTheMonotonicClockInMilliseconds) {
    SystemClock clock;
    timespec before{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    const uint32_t tick = clock.TickMs();
    const auto expected = static_cast<uint32_t>(static_cast<uint64_t>(before.tv_sec) * 1000u +
                                                static_cast<uint64_t>(before.tv_nsec) / 1000000u);
    EXPECT_LE(static_cast<uint32_t>(tick - expected), 50u);

    timespec pause{0, 30 * 1000 * 1000};
    nanosleep(&pause, nullptr);
    const uint32_t later = clock.TickMs();
    EXPECT_GE(static_cast<uint32_t>(later - tick), 30u);
    EXPECT_LT(static_cast<uint32_t>(later - tick), 5000u);
}

TEST(SystemClockTest, LocalTimeIsNow) {
    SystemClock clock;
    const time_t now = time(nullptr);
    std::tm expected{};
    localtime_r(&now, &expected);
    const std::tm got = clock.LocalTime();
    EXPECT_EQ(got.tm_year, expected.tm_year);
    EXPECT_EQ(got.tm_yday, expected.tm_yday);
    EXPECT_LE(std::abs((got.tm_hour * 3600 + got.tm_min * 60 + got.tm_sec) -
                       (expected.tm_hour * 3600 + expected.tm_min * 60 + expected.tm_sec)),
              2);
}

}  // namespace
}  // namespace varnel
