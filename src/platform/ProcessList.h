#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace varnel {

// The system's list of running processes: each process id with its executable's file name
// (without directory). Enumerate calls `visit` once per process, in no particular order, and
// returns false when the list could not be read at all (then `visit` was not called).
//
// Threads: one caller at a time.
class ProcessList {
public:
    ProcessList() = default;
    ProcessList(const ProcessList&) = delete;
    ProcessList& operator=(const ProcessList&) = delete;
    virtual ~ProcessList() = default;

    virtual bool Enumerate(const std::function<void(int32_t pid, std::string_view exeName)>& visit) = 0;
};

}  // namespace varnel
