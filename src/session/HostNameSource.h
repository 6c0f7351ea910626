#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace varnel {

// Where the snapshot gets host names while host-name resolution is on. LookupHostName writes the
// name known for the dotted `address` into `out` (cut to fit, always terminated): the cached name,
// or "(address)" while the name is not known yet. It must answer at once: it is called on the
// tick's thread for every address of every poll and may never wait for a lookup.
//
// FindHostName is the same question for the rules, which read the whole name however long it is:
// true and `name` set to the name known (the address text itself when there is none), false while
// it is not known yet. The default asks LookupHostName with room for any DNS name.
//
// PeekHostName answers as FindHostName but never starts a lookup: it is for connections nobody
// sees whose verdict no host test decides. The default asks FindHostName, which is right for a
// source that answers at once; a source that starts lookups must override it.
class HostNameSource {
public:
    virtual ~HostNameSource() = default;
    virtual void LookupHostName(const char* address, char* out, size_t outSize) = 0;

    // Allocates nothing once `name` has held an answer before.
    virtual bool FindHostName(std::string_view address, std::string& name) {
        char text[64];  // an address text is at most 47 bytes
        const size_t n = std::min(address.size(), sizeof text - 1);
        std::memcpy(text, address.data(), n);
        text[n] = '\0';
        name.resize(1025 + n + 2);  // any DNS name, or the address in parentheses
        LookupHostName(text, name.data(), name.size());
        name.resize(std::strlen(name.c_str()));
        const std::string_view answer = name;
        const bool pending = answer.size() == n + 2 && answer.front() == '(' && answer.back() == ')' &&
                             answer.substr(1, n) == std::string_view(text, n);
        return !pending;
    }

    virtual bool PeekHostName(std::string_view address, std::string& name) { return FindHostName(address, name); }

    // Lookups under way now, for the metrics; a source that answers at once has none.
    virtual int PendingLookups() const { return 0; }
};

}  // namespace varnel
