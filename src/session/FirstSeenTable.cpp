#include "session/FirstSeenTable.h"

#include <algorithm>

namespace varnel {

void FirstSeenTable::BuildIndex() {
    size_t size = 1024;
    while (size < previous_.size() * 2) size *= 2;
    index_.assign(size, 0);
    const size_t mask = size - 1;
    for (size_t p = 0; p < previous_.size(); ++p) {
        size_t i = previous_[p].key.Hash() & mask;
        while (index_[i] != 0) i = (i + 1) & mask;
        index_[i] = static_cast<int32_t>(p + 1);
    }
    indexBuilt_ = true;
}

int64_t FirstSeenTable::FindUnmatched(const ConnectionKey& key) const {
    const size_t mask = index_.size() - 1;
    for (size_t i = key.Hash() & mask; index_[i] != 0; i = (i + 1) & mask) {
        const size_t p = static_cast<size_t>(index_[i] - 1);
        if (!matched_[p] && previous_[p].key == key) return static_cast<int64_t>(p);
    }
    return -1;
}

void FirstSeenTable::Take(KeptConnection& c, size_t previousAt, uint32_t now) {
    matched_[previousAt] = 1;
    const KeptConnection& was = previous_[previousAt];
    // Back from half-closed is back from a state the list does not show: new again.
    const bool back = IsHalfClosedState(was.state) && !IsHalfClosedState(c.state);
    c.firstSeen = was.firstSeen != 0 && !back ? was.firstSeen : now;
}

void FirstSeenTable::CarryOver(std::vector<KeptConnection>& poll, uint32_t now) {
    matched_.assign(previous_.size(), 0);
    misses_.clear();
    indexBuilt_ = false;
    size_t walk = 0;
    int missesInARow = 0;
    for (size_t i = 0; i < poll.size(); ++i) {
        KeptConnection& c = poll[i];
        const size_t end = std::min(previous_.size(), walk + kLookahead);
        size_t at = walk;
        while (at < end && (matched_[at] || !(previous_[at].key == c.key))) ++at;
        if (at < end) {
            Take(c, at, now);
            walk = at + 1;
            missesInARow = 0;
            continue;
        }
        // New, or the walk lost its place (many connections left at once): after a few misses in
        // a row, look the rest up and let the walk pick up where each is found.
        if (!indexBuilt_ && ++missesInARow >= kMissesBeforeIndex && !previous_.empty()) BuildIndex();
        if (indexBuilt_) {
            const int64_t p = FindUnmatched(c.key);
            if (p >= 0) {
                Take(c, static_cast<size_t>(p), now);
                walk = static_cast<size_t>(p) + 1;
            } else {
                c.firstSeen = now;
            }
            continue;
        }
        misses_.push_back(static_cast<uint32_t>(i));
    }
    lastMisses_ = misses_.size();
    // The few misses the walk left: most are new connections. Compare them with the previous
    // connections nobody took, or look them up when that would take long.
    if (!misses_.empty()) {
        const size_t unmatched =
            previous_.size() - static_cast<size_t>(std::count(matched_.begin(), matched_.end(), 1));
        if (!indexBuilt_ && misses_.size() * unmatched > 4096) BuildIndex();
        for (uint32_t i : misses_) {
            KeptConnection& c = poll[i];
            int64_t p = -1;
            if (indexBuilt_) {
                p = FindUnmatched(c.key);
            } else {
                for (size_t q = 0; q < previous_.size() && p < 0; ++q)
                    if (!matched_[q] && previous_[q].key == c.key) p = static_cast<int64_t>(q);
            }
            if (p >= 0)
                Take(c, static_cast<size_t>(p), now);
            else
                c.firstSeen = now;
        }
    }
    previous_.assign(poll.begin(), poll.end());
}

}  // namespace varnel
