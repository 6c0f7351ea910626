#include "resolve/HostNameCache.h"

#include "text/FixedText.h"

namespace varnel {

void HostNameCache::Insert(std::string_view address, std::string_view name) {
    MutexLock lock(mutex_);
    if (names_.size() >= kMaxEntries) names_.clear();
    auto it = names_.find(address);
    if (it != names_.end()) {
        it->second.assign(name);
    } else {
        names_.emplace(std::string(address), std::string(name));
    }
}

bool HostNameCache::Find(std::string_view address, std::string& name) const {
    MutexLock lock(mutex_);
    auto it = names_.find(address);
    if (it == names_.end()) return false;
    name = it->second;
    return true;
}

bool HostNameCache::CopyName(std::string_view address, char* out, size_t outSize) const {
    MutexLock lock(mutex_);
    auto it = names_.find(address);
    if (it == names_.end()) return false;
    CopyFixedText(out, outSize, it->second);
    return true;
}

void HostNameCache::Flush() {
    MutexLock lock(mutex_);
    names_.clear();
}

size_t HostNameCache::Size() const {
    MutexLock lock(mutex_);
    return names_.size();
}

}  // namespace varnel
