#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/TcpRow.h"
#include "platform/linux/InodePidTable.h"
#include "platform/linux/SocketIdentity.h"

namespace varnel {

// Finds the process that owns each socket of a table, by socket inode.
//
// The kernel's socket tables name no process; the only link is the process's open files:
// /proc/<pid>/fd/<n> reads "socket:[<inode>]". Reading those links is the costly part (a few
// microseconds per open file), so the map keeps inode -> PID and reads links only when a row has
// an inode it does not know, at most once per Resolve, and only as far as needed:
//   - inode 0 (TIME_WAIT, connection requests, orphaned sockets) has no owner and is never sought;
//   - only processes whose /proc/<pid> belongs to the uid of a sought socket are read;
//   - processes that were found owning sockets lately are read first;
//   - the search stops as soon as every sought inode is found.
// An inode not found anywhere (its owner is out of reach, e.g. another user's process) is kept
// as "no owner" and sought again only after kRetryPolls calls, so it does not cost a full search
// at every poll. Entries whose inode was not in the latest table are dropped.
//
// A PID is the process that held the socket when the map first found it; a socket handed on to
// another process keeps the first owner's PID while it lives.
// Threads: one caller at a time. Failure: an unreadable /proc leaves owningPid 0.
class SocketOwnerMap {
  public:
    static constexpr uint32_t kRetryPolls = 20;
    static constexpr size_t kRecentOwners = 64;

    explicit SocketOwnerMap(std::string procRoot = "/proc");
    ~SocketOwnerMap();
    SocketOwnerMap(const SocketOwnerMap&) = delete;
    SocketOwnerMap& operator=(const SocketOwnerMap&) = delete;

    // Sets rows[i].owningPid from ids[i] for every row (the two vectors are parallel).
    void Resolve(std::vector<TcpRow>& rows, const std::vector<SocketIdentity>& ids);

    struct Stats {
        uint64_t polls = 0;             // Resolve calls
        uint64_t searches = 0;          // Resolve calls that read /proc
        uint64_t processesChecked = 0;  // /proc/<pid> owners looked at
        uint64_t processesRead = 0;     // fd directories read
        uint64_t linksRead = 0;         // fd links read
    };
    const Stats& stats() const { return stats_; }
    size_t cachedInodes() const { return cache_.size(); }

  private:
    void Search();
    bool OpenProc();
    // Reads the fd links of `pid` if its uid is sought; true when nothing is left to seek.
    bool SearchProcess(int32_t pid);
    bool UidSought(uint32_t uid) const;
    void MoveToFront(int32_t pid);
    void Forget(int32_t pid);

    std::string procRoot_;
    int procFd_ = -1;
    uint32_t poll_ = 0;
    size_t live_ = 0;  // cache entries seen in this poll

    InodePidTable cache_;
    InodePidTable sought_;  // inodes sought in this poll -> PID found (0 while not found)
    size_t soughtLeft_ = 0;
    std::vector<uint32_t> soughtUids_;
    std::vector<size_t> soughtRows_;

    std::vector<int32_t> recent_;   // lately found owners, most recent first
    std::vector<int32_t> visited_;  // owners from recent_ already read in this search
    std::vector<uint8_t> procDents_;
    std::vector<uint8_t> fdDents_;
    Stats stats_;
};

}  // namespace varnel
