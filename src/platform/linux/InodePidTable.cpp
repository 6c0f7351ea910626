#include "platform/linux/InodePidTable.h"

namespace varnel {

namespace {
constexpr size_t kInitialSlots = 1024;
}

InodePidTable::InodePidTable() : slots_(kInitialSlots) {}

size_t InodePidTable::SlotOf(uint64_t inode) const {
    // Fibonacci hashing spreads the nearly consecutive inode numbers of new sockets.
    return static_cast<size_t>((inode * 0x9E3779B97F4A7C15ull) >> 32) & (slots_.size() - 1);
}

InodePidTable::Entry* InodePidTable::Find(uint64_t inode) {
    const size_t mask = slots_.size() - 1;
    for (size_t i = SlotOf(inode);; i = (i + 1) & mask) {
        Entry& e = slots_[i];
        if (e.inode == inode) return &e;
        if (e.inode == 0) return nullptr;
    }
}

InodePidTable::Entry& InodePidTable::Insert(uint64_t inode) {
    if ((size_ + 1) * 2 > slots_.size()) Grow();
    const size_t mask = slots_.size() - 1;
    for (size_t i = SlotOf(inode);; i = (i + 1) & mask) {
        Entry& e = slots_[i];
        if (e.inode == inode) return e;
        if (e.inode == 0) {
            e = Entry{inode, 0, 0, 0};
            ++size_;
            return e;
        }
    }
}

void InodePidTable::Grow() {
    spare_.assign(slots_.size() * 2, Entry{});
    spare_.swap(slots_);
    size_ = 0;
    for (const Entry& e : spare_)
        if (e.inode != 0) Place(e);
}

void InodePidTable::Place(const Entry& e) {
    const size_t mask = slots_.size() - 1;
    size_t i = SlotOf(e.inode);
    while (slots_[i].inode != 0) i = (i + 1) & mask;
    slots_[i] = e;
    ++size_;
}

void InodePidTable::Clear() {
    if (size_ == 0) return;
    for (Entry& e : slots_) e = Entry{};
    size_ = 0;
}

}  // namespace varnel
