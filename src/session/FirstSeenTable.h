#pragma once

#include <cstdint>
#include <vector>

#include "session/KeptConnection.h"

namespace varnel {

// When each kept connection was first seen, carried from poll to poll by four-tuple, for every
// connection the poll kept and not only those the list has room for.
//
// CarryOver takes a whole poll: a connection the previous poll had keeps its first-seen tick, any
// other starts now; a connection that leaves the table and comes back is new again. A connection
// that half-closes keeps its tick (its age goes on); one that goes from half-closed back to any
// other state has passed through a state the list does not show and is new again, as one that
// left. Forget drops the previous poll (a failed read of the table: the next poll starts every
// connection afresh).
//
// The kernel lists connections in the order of its hash, which the connections that stay keep
// from poll to poll; so the previous poll is walked alongside the new one, and a connection is
// found within a few places of where the walk stands. Only what that misses (new connections,
// or the rest of the poll after many connections left at once) is looked up: among the previous
// poll's unmatched connections, through a hash index of the previous poll when they are many.
// A steady poll thus touches both polls in order and hashes nothing. The buffers grow to the
// largest poll seen; after that a poll allocates nothing. Tick's thread only.
class FirstSeenTable {
  public:
    // Sets the firstSeen of every entry of `poll`, which becomes the previous poll.
    void CarryOver(std::vector<KeptConnection>& poll, uint32_t now);
    void Forget() { previous_.clear(); }

    size_t size() const { return previous_.size(); }
    // How many lookups the last CarryOver needed beyond the walk (for tests and benchmarks).
    size_t lastMisses() const { return lastMisses_; }

  private:
    static constexpr size_t kLookahead = 16;
    static constexpr int kMissesBeforeIndex = 4;

    void BuildIndex();
    // The unmatched previous connection with `key`, or -1.
    int64_t FindUnmatched(const ConnectionKey& key) const;
    void Take(KeptConnection& c, size_t previousAt, uint32_t now);

    std::vector<KeptConnection> previous_;
    std::vector<uint8_t> matched_;  // per previous connection: already carried over
    std::vector<uint32_t> misses_;  // new-poll entries left for after the walk
    std::vector<int32_t> index_;    // open-addressed: previous position + 1, 0 = empty
    bool indexBuilt_ = false;
    size_t lastMisses_ = 0;
};

}  // namespace varnel
