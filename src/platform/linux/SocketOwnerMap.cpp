#include "platform/linux/SocketOwnerMap.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/linux/ProcNames.h"

namespace varnel {

namespace {

constexpr size_t kDentsBufferSize = 32 * 1024;

// The inode of a link text "socket:[<inode>]"; 0 for any other text.
uint64_t SocketInode(const char* link, size_t length) {
    static constexpr char kPrefix[] = "socket:[";
    constexpr size_t kPrefixLength = sizeof kPrefix - 1;
    if (length < kPrefixLength + 2 || std::memcmp(link, kPrefix, kPrefixLength) != 0 ||
        link[length - 1] != ']')
        return 0;
    uint64_t inode = 0;
    for (size_t i = kPrefixLength; i + 1 < length; ++i) {
        if (link[i] < '0' || link[i] > '9' || i - kPrefixLength >= 19) return 0;
        inode = inode * 10 + static_cast<uint64_t>(link[i] - '0');
    }
    return inode;
}

}  // namespace

SocketOwnerMap::SocketOwnerMap(std::string procRoot)
    : procRoot_(std::move(procRoot)), procDents_(kDentsBufferSize), fdDents_(kDentsBufferSize) {
    recent_.reserve(kRecentOwners);
    visited_.reserve(kRecentOwners);
}

SocketOwnerMap::~SocketOwnerMap() {
    if (procFd_ >= 0) close(procFd_);
}

bool SocketOwnerMap::OpenProc() {
    if (procFd_ < 0) procFd_ = open(procRoot_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return procFd_ >= 0;
}

void SocketOwnerMap::Resolve(std::vector<TcpRow>& rows, const std::vector<SocketIdentity>& ids) {
    ++poll_;
    ++stats_.polls;
    live_ = 0;
    sought_.Clear();
    soughtUids_.clear();
    soughtRows_.clear();
    const size_t n = std::min(rows.size(), ids.size());
    for (size_t i = 0; i < n; ++i) {
        const uint64_t inode = ids[i].inode;
        rows[i].owningPid = 0;
        if (inode == 0) continue;
        InodePidTable::Entry* known = cache_.Find(inode);
        if (known != nullptr && (known->pid != 0 || poll_ - known->born < kRetryPolls)) {
            if (known->seen != poll_) {
                known->seen = poll_;
                ++live_;
            }
            rows[i].owningPid = known->pid;
            continue;
        }
        soughtRows_.push_back(i);
        sought_.Insert(inode);
        if (!UidSought(ids[i].uid)) soughtUids_.push_back(ids[i].uid);
    }
    if (!soughtRows_.empty()) {
        soughtLeft_ = sought_.size();
        Search();
        for (size_t i : soughtRows_) {
            const uint64_t inode = ids[i].inode;
            InodePidTable::Entry& entry = cache_.Insert(inode);
            if (entry.seen != poll_) {
                const InodePidTable::Entry* found = sought_.Find(inode);
                entry.pid = found != nullptr ? found->pid : 0;
                entry.born = poll_;
                entry.seen = poll_;
                ++live_;
            }
            rows[i].owningPid = entry.pid;
        }
    }
    for (size_t i = n; i < rows.size(); ++i) rows[i].owningPid = 0;
    if (live_ < cache_.size())
        cache_.RetainIf([this](const InodePidTable::Entry& e) { return e.seen == poll_; });
}

bool SocketOwnerMap::UidSought(uint32_t uid) const {
    return std::find(soughtUids_.begin(), soughtUids_.end(), uid) != soughtUids_.end();
}

void SocketOwnerMap::MoveToFront(int32_t pid) {
    auto it = std::find(recent_.begin(), recent_.end(), pid);
    if (it == recent_.end()) {
        if (recent_.size() == kRecentOwners) recent_.pop_back();
        recent_.insert(recent_.begin(), pid);
    } else {
        std::rotate(recent_.begin(), it, it + 1);
    }
}

void SocketOwnerMap::Forget(int32_t pid) {
    auto it = std::find(recent_.begin(), recent_.end(), pid);
    if (it != recent_.end()) recent_.erase(it);
}

void SocketOwnerMap::Search() {
    ++stats_.searches;
    if (!OpenProc()) return;
    // Lately found owners first. SearchProcess reorders recent_, so walk a copy.
    visited_.assign(recent_.begin(), recent_.end());
    for (int32_t pid : visited_)
        if (SearchProcess(pid)) return;
    if (lseek(procFd_, 0, SEEK_SET) < 0) return;
    for (;;) {
        const ssize_t got = getdents64(procFd_, procDents_.data(), procDents_.size());
        if (got <= 0) return;
        for (ssize_t at = 0; at < got;) {
            const auto* d = reinterpret_cast<const dirent64*>(procDents_.data() + at);
            at += d->d_reclen;
            const int32_t pid = PidFromProcName(d->d_name);
            if (pid < 0 || std::find(visited_.begin(), visited_.end(), pid) != visited_.end()) continue;
            if (SearchProcess(pid)) return;
        }
    }
}

bool SocketOwnerMap::SearchProcess(int32_t pid) {
    char path[32];
    std::snprintf(path, sizeof path, "%d", static_cast<int>(pid));
    struct stat st;
    ++stats_.processesChecked;
    if (fstatat(procFd_, path, &st, 0) != 0) {
        Forget(pid);  // gone
        return false;
    }
    if (!UidSought(static_cast<uint32_t>(st.st_uid))) return false;
    std::snprintf(path, sizeof path, "%d/fd", static_cast<int>(pid));
    const int dir = openat(procFd_, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    ++stats_.processesRead;
    bool found = false;
    bool done = false;
    while (!done) {
        const ssize_t got = getdents64(dir, fdDents_.data(), fdDents_.size());
        if (got <= 0) break;
        for (ssize_t at = 0; at < got && !done;) {
            const auto* d = reinterpret_cast<const dirent64*>(fdDents_.data() + at);
            at += d->d_reclen;
            if (d->d_name[0] == '.') continue;
            char link[64];
            const ssize_t length = readlinkat(dir, d->d_name, link, sizeof link);
            ++stats_.linksRead;
            if (length <= 0) continue;
            const uint64_t inode = SocketInode(link, static_cast<size_t>(length));
            if (inode == 0) continue;
            InodePidTable::Entry* sought = sought_.Find(inode);
            if (sought == nullptr || sought->pid != 0) continue;
            sought->pid = static_cast<uint32_t>(pid);
            found = true;
            done = --soughtLeft_ == 0;
        }
    }
    close(dir);
    if (found) MoveToFront(pid);
    return done;
}

}  // namespace varnel
