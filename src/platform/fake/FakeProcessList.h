#pragma once

#include <map>
#include <string>

#include "platform/ProcessList.h"

namespace varnel {

// A process list the test fills; counts how often it was read.
class FakeProcessList : public ProcessList {
public:
    std::map<int32_t, std::string> processes;
    bool failing = false;
    int enumerations = 0;

    bool Enumerate(const std::function<void(int32_t, std::string_view)>& visit) override {
        ++enumerations;
        if (failing) return false;
        for (const auto& [pid, name] : processes) visit(pid, name);
        return true;
    }
};

}  // namespace varnel
