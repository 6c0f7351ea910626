#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace varnel {

// A flat hash table keyed by socket inode (never 0), for the socket-owner cache: open addressing
// with linear probing in one array, so lookups touch one cache line and nothing is allocated
// except when the table grows past half full. Plain data; one thread.
class InodePidTable {
  public:
    struct Entry {
        uint64_t inode;  // 0 marks a free slot
        uint32_t pid;    // 0: no owner was found
        uint32_t seen;   // the owner map's poll number when the inode was last in the table
        uint32_t born;   // the poll number when the entry was made
    };

    InodePidTable();

    // The entry of `inode`, or nullptr.
    Entry* Find(uint64_t inode);
    // The entry of `inode`, made (zeroed but for the inode) if it was not there. `inode` != 0.
    Entry& Insert(uint64_t inode);
    // Keeps only the entries for which keep(entry) is true.
    template <typename Keep>
    void RetainIf(Keep keep) {
        spare_.assign(slots_.size(), Entry{});
        spare_.swap(slots_);
        size_ = 0;
        for (const Entry& e : spare_)
            if (e.inode != 0 && keep(e)) Place(e);
    }
    void Clear();

    size_t size() const { return size_; }

  private:
    size_t SlotOf(uint64_t inode) const;
    void Grow();
    // Puts `e` into a free slot without growing: only for rebuilding into a table of at least the old size.
    void Place(const Entry& e);

    std::vector<Entry> slots_;  // capacity is a power of two
    std::vector<Entry> spare_;  // reused by RetainIf and Grow
    size_t size_ = 0;
};

}  // namespace varnel
