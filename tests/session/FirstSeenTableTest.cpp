#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "session/FirstSeenTable.h"

namespace varnel {
namespace {

ConnectionKey Key(uint32_t i) {
    return ConnectionKey{0x0100007Fu, 0x0200007Fu + (i >> 16 << 24), uint16_t(i), 443};
}

KeptConnection Conn(uint32_t i) {
    KeptConnection c;
    c.key = Key(i);
    return c;
}

uint32_t Id(const KeptConnection& c) {
    return c.key.localPort | (c.key.remoteAddr - 0x0200007Fu) >> 24 << 16;
}

// Polls of 3,000 connections that change the way a kernel's table does (some close, some open in
// between, now and then a thousand close at once, once the whole order turns round), held against
// the plain rule: a connection the previous poll had keeps its first sighting, any other is new.
TEST(FirstSeenTableTest, AgreesWithThePlainRuleWhateverThePollsDo) {
    std::mt19937 rng(7);
    FirstSeenTable table;
    std::vector<uint32_t> ids(3000);
    for (uint32_t i = 0; i < ids.size(); ++i) ids[i] = i;
    uint32_t nextId = 3000;
    std::map<uint32_t, uint32_t> before;  // id -> first seen, as of the previous poll
    size_t walkedPolls = 0;
    for (uint32_t poll = 1; poll <= 40; ++poll) {
        const uint32_t now = poll * 500;
        if (poll % 10 == 5) {
            ids.erase(ids.begin() + 200, ids.begin() + 1200);  // a thousand close at once
        } else if (poll == 22) {
            std::reverse(ids.begin(), ids.end());
        } else if (poll > 1) {
            for (int n = 0; n < 10; ++n) ids.erase(ids.begin() + static_cast<long>(rng() % ids.size()));
            for (int n = 0; n < 10 + (poll % 10 == 6 ? 1000 : 0); ++n)
                ids.insert(ids.begin() + static_cast<long>(rng() % ids.size()), nextId++);
        }
        std::vector<KeptConnection> kept;
        for (uint32_t id : ids) kept.push_back(Conn(id));
        table.CarryOver(kept, now);
        std::map<uint32_t, uint32_t> after;
        for (const KeptConnection& c : kept) {
            auto it = before.find(Id(c));
            const uint32_t expected = it != before.end() ? it->second : now;
            ASSERT_EQ(c.firstSeen, expected) << "poll " << poll << " id " << Id(c);
            after[Id(c)] = c.firstSeen;
        }
        before = std::move(after);
        if (table.lastMisses() <= 20) ++walkedPolls;
    }
    EXPECT_GE(walkedPolls, 30u) << "ordinary polls are carried over by the walk, not by lookups";
}

// Far beyond the walk's look-ahead: the one lookup after the walk finds it among the leftovers.
TEST(FirstSeenTableTest, AConnectionMovedFromTheEndOfTheTableToItsFrontKeepsItsAge) {
    FirstSeenTable table;
    std::vector<KeptConnection> kept;
    for (uint32_t i = 0; i < 100; ++i) kept.push_back(Conn(i));
    table.CarryOver(kept, 10);
    std::rotate(kept.begin(), kept.end() - 1, kept.end());
    for (KeptConnection& c : kept) c.firstSeen = 0;
    table.CarryOver(kept, 20);
    EXPECT_EQ(Id(kept[0]), 99u);
    for (const KeptConnection& c : kept) EXPECT_EQ(c.firstSeen, 10u) << Id(c);
    EXPECT_EQ(table.lastMisses(), 1u) << "the rest are carried over by the walk";
}

TEST(FirstSeenTableTest, AConnectionAwayForOnePollOrAfterAFailedReadIsNew) {
    FirstSeenTable table;
    std::vector<KeptConnection> kept = {Conn(1), Conn(2)};
    table.CarryOver(kept, 10);
    kept = {Conn(2)};
    table.CarryOver(kept, 20);
    kept = {Conn(1), Conn(2)};
    table.CarryOver(kept, 30);
    EXPECT_EQ(kept[0].firstSeen, 30u);
    EXPECT_EQ(kept[1].firstSeen, 10u);
    table.Forget();  // a failed read of the table
    table.CarryOver(kept, 40);
    EXPECT_EQ(kept[1].firstSeen, 40u);
}

}  // namespace
}  // namespace varnel
