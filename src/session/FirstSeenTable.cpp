#include "session/FirstSeenTable.h"

namespace varnel {

namespace {
constexpr uint32_t kInitialSlots = 1024;
}

FirstSeenTable::FirstSeenTable() {
    // Every slot's stamp starts at 0, which no array's poll number ever is: nothing is live.
    for (Array* a : {&current_, &previous_}) {
        a->cells.assign(kInitialSlots, Slot{});
        a->mask = kInitialSlots - 1;
    }
    previous_.stamp = 1;
    current_.stamp = 2;
}

const FirstSeenTable::Slot* FirstSeenTable::Find(const Array& a, const ConnectionKey& key) {
    for (uint32_t i = key.Hash() & a.mask;; i = (i + 1) & a.mask) {
        const Slot& s = a.cells[i];
        if (s.stamp != a.stamp) return nullptr;
        if (s.key == key) return &s;
    }
}

FirstSeenTable::Slot& FirstSeenTable::Place(Array& a, const ConnectionKey& key, bool& found) {
    for (uint32_t i = key.Hash() & a.mask;; i = (i + 1) & a.mask) {
        Slot& s = a.cells[i];
        if (s.stamp != a.stamp) {
            s.key = key;
            s.stamp = a.stamp;
            ++a.used;
            found = false;
            return s;
        }
        if (s.key == key) {
            found = true;
            return s;
        }
    }
}

void FirstSeenTable::BeginPoll() {
    std::swap(current_, previous_);
    current_.used = 0;
    current_.stamp = nextStamp_++;
    if (nextStamp_ == 0) {  // after four billion polls: wipe the stamps rather than wrap into live ones
        for (Array* a : {&current_, &previous_})
            for (Slot& s : a->cells) s.stamp = 0;
        previous_.used = 0;
        previous_.stamp = 1;
        current_.stamp = 2;
        nextStamp_ = 3;
    }
}

void FirstSeenTable::Grow() {
    Array bigger;
    bigger.cells.assign(current_.cells.size() * 2, Slot{});
    bigger.mask = static_cast<uint32_t>(bigger.cells.size() - 1);
    bigger.stamp = current_.stamp;
    for (const Slot& s : current_.cells) {
        if (s.stamp != current_.stamp) continue;
        bool found;
        Place(bigger, s.key, found).firstSeen = s.firstSeen;
    }
    current_ = std::move(bigger);
}

uint32_t FirstSeenTable::Carry(const ConnectionKey& key, uint32_t now) {
    if ((current_.used + 1) * 2 > current_.cells.size()) Grow();
    bool found;
    Slot& slot = Place(current_, key, found);
    if (found) return slot.firstSeen;
    const Slot* before = Find(previous_, key);
    slot.firstSeen = before != nullptr && before->firstSeen != 0 ? before->firstSeen : now;
    return slot.firstSeen;
}

void FirstSeenTable::Forget() {
    BeginPoll();
    BeginPoll();
}

}  // namespace varnel
