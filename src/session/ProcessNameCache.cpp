#include "session/ProcessNameCache.h"

#include "text/FixedText.h"

namespace varnel {

std::string_view ProcessNameCache::ProcessNameForPid(int32_t pid) {
    auto it = names_.find(pid);
    if (it != names_.end()) return it->second;
    if (rebuiltThisPoll_) return {};
    Rebuild();
    it = names_.find(pid);
    return it == names_.end() ? std::string_view() : std::string_view(it->second);
}

void ProcessNameCache::Rebuild() {
    rebuiltThisPoll_ = true;
    ++rebuilds_;
    names_.clear();
    processes_.Enumerate([this](int32_t pid, std::string_view name) {
        names_[pid] = std::string(name.substr(0, Utf8PrefixLength(name, kMaxNameBytes)));
    });
}

}  // namespace varnel
