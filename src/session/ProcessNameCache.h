#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/ProcessList.h"

namespace varnel {

// PID → executable file name, so the system's process list is read only when a PID is not yet
// known. A miss rebuilds the whole cache from the process list; a PID reused by another program
// keeps its old name until some miss causes a rebuild.
//
// A PID that no process bears (its owner has just exited) would otherwise rebuild the cache on
// every call for it; rebuilds are therefore limited to one per poll (BeginPoll starts a poll):
// after the poll's rebuild, a PID still missing is simply unknown until the next poll.
//
// Owned by the snapshot's owner; used on the tick's thread only. The process list must outlive it.
class ProcessNameCache {
public:
    explicit ProcessNameCache(ProcessList& processes) : processes_(processes) {}

    void BeginPoll() { rebuiltThisPoll_ = false; }

    // The executable name of `pid`, or an empty view when no process bears it. The view stays
    // valid until the next call that rebuilds the cache or Clear.
    std::string_view ProcessNameForPid(int32_t pid);

    void Clear() { names_.clear(); }
    int rebuilds() const { return rebuilds_; }
    size_t size() const { return names_.size(); }

    static constexpr size_t kMaxNameBytes = 127;

private:
    void Rebuild();

    ProcessList& processes_;
    std::unordered_map<int32_t, std::string> names_;
    bool rebuiltThisPoll_ = false;
    int rebuilds_ = 0;
};

}  // namespace varnel
