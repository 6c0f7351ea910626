#pragma once

#include <cstdint>
#include <vector>

#include "session/KeptConnection.h"

namespace varnel {

// When each connection of the last two polls was first seen, by four-tuple, for every connection
// the poll kept and not only those the list has room for.
//
// A poll calls BeginPoll, then Carry once per kept connection: a connection the previous poll had
// keeps its first-seen tick, any other starts now. What the new poll did not carry is forgotten at
// its end, so a connection that leaves the table and comes back is new again. Forget drops both
// polls (a failed read of the table: the next poll starts every connection afresh).
//
// Two open-addressed arrays take turns as the current and the previous poll; a slot is live when
// its stamp is its array's poll number, so starting a poll clears nothing. The arrays grow (to
// keep at most half of their cells used) when a poll holds more connections than ever before;
// after that a poll allocates nothing. Tick's thread only.
class FirstSeenTable {
  public:
    FirstSeenTable();

    void BeginPoll();
    // The first-seen tick of `key`: carried over from the previous poll when it had the key with a
    // non-zero tick, else `now`. A key carried twice in one poll keeps its first answer.
    uint32_t Carry(const ConnectionKey& key, uint32_t now);
    void Forget();

    size_t size() const { return current_.used; }

  private:
    struct Slot {
        ConnectionKey key;
        uint32_t firstSeen;
        uint32_t stamp;  // the poll number of the array when live
    };
    struct Array {
        std::vector<Slot> cells;
        uint32_t mask = 0;
        uint32_t stamp = 0;
        size_t used = 0;
    };

    static const Slot* Find(const Array& a, const ConnectionKey& key);
    static Slot& Place(Array& a, const ConnectionKey& key, bool& found);
    void Grow();

    Array current_;
    Array previous_;
    uint32_t nextStamp_ = 3;
};

}  // namespace varnel
