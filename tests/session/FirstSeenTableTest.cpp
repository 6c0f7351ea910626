#include <gtest/gtest.h>

#include "session/FirstSeenTable.h"

namespace varnel {
namespace {

ConnectionKey Key(uint32_t i) {
    return ConnectionKey{0x0100007Fu, 0x0200007Fu + (i >> 16 << 24), uint16_t(i), 443};
}

TEST(FirstSeenTableTest, CarriesOverWhatThePreviousPollHadThroughGrowth) {
    FirstSeenTable t;
    // 5,000 connections appear over three polls; the arrays grow several times on the way.
    t.BeginPoll();
    for (uint32_t i = 0; i < 100; ++i) EXPECT_EQ(t.Carry(Key(i), 10), 10u);
    t.BeginPoll();
    for (uint32_t i = 0; i < 3000; ++i) EXPECT_EQ(t.Carry(Key(i), 20), i < 100 ? 10u : 20u) << i;
    t.BeginPoll();
    for (uint32_t i = 0; i < 5000; ++i) {
        if (i % 7 == 0) continue;  // these leave the table for one poll
        EXPECT_EQ(t.Carry(Key(i), 30), i < 100 ? 10u : i < 3000 ? 20u : 30u) << i;
    }
    EXPECT_EQ(t.size(), 5000u - 715u);
    t.BeginPoll();
    for (uint32_t i = 0; i < 5000; ++i) {
        const uint32_t expected = i % 7 == 0 ? 40u : i < 100 ? 10u : i < 3000 ? 20u : 30u;
        EXPECT_EQ(t.Carry(Key(i), 40), expected) << i;
    }
    // A key carried twice in one poll keeps its first answer.
    EXPECT_EQ(t.Carry(Key(7), 99), 40u);
    EXPECT_EQ(t.size(), 5000u);
}

TEST(FirstSeenTableTest, ForgetStartsEveryConnectionAfresh) {
    FirstSeenTable t;
    t.BeginPoll();
    t.Carry(Key(1), 10);
    t.Forget();  // a failed read of the table
    t.BeginPoll();
    EXPECT_EQ(t.Carry(Key(1), 50), 50u);
    EXPECT_EQ(t.size(), 1u);
}

}  // namespace
}  // namespace varnel
