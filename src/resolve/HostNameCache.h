#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/Mutex.h"
#include "platform/ThreadAnnotations.h"

namespace varnel {

// Dotted address text -> host name text, shared by the tick's thread (reads, flushes) and the
// resolver workers (insertions). A value is the name found or, when none was found, the address
// text itself. Keys compare exactly (byte for byte).
//
// Size bound: an insertion that finds kMaxEntries or more entries empties the whole map first, so
// the map never holds more than kMaxEntries and the insertion after a full map leaves one entry.
//
// Threads: any, concurrently. One internal mutex guards the map; every method holds it only for
// the map operation and a copy of one name, never while waiting for anything else.
class HostNameCache {
  public:
    static constexpr size_t kMaxEntries = 2048;

    HostNameCache() = default;
    HostNameCache(const HostNameCache&) = delete;
    HostNameCache& operator=(const HostNameCache&) = delete;

    // Sets the name of `address` (replacing an earlier one), after the flush described above.
    void Insert(std::string_view address, std::string_view name) EXCLUDES(mutex_);

    // True and `name` set when the cache holds `address`.
    bool Find(std::string_view address, std::string& name) const EXCLUDES(mutex_);

    // True when the cache holds `address`; the name is then copied into `out` (outSize >= 1) with
    // CopyFixedText, cut at a UTF-8 character boundary when it does not fit. Allocates nothing.
    bool CopyName(std::string_view address, char* out, size_t outSize) const EXCLUDES(mutex_);

    // Empties the map ("Remove all items", shutdown).
    void Flush() EXCLUDES(mutex_);

    size_t Size() const EXCLUDES(mutex_);

  private:
    // Transparent hashing lets a string_view find a std::string key without building one.
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
    };

    mutable Mutex mutex_;
    std::unordered_map<std::string, std::string, Hash, std::equal_to<>> names_ GUARDED_BY(mutex_);
};

}  // namespace varnel
