#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace varnel {

// Where the snapshot gets host names while host-name resolution is on. LookupHostName writes the
// name known for the dotted `address` into `out` (cut to fit, always terminated): the cached name,
// or "(address)" while the name is not known yet. It must answer at once: it is called on the
// tick's thread for every address of every poll and may never wait for a lookup.
//
// FindHostName is the same question for the rules, which read the whole name however long it is:
// true and `name` set to the name known (the address text itself when there is none), false while
// it is not known yet. The default asks LookupHostName with room for any DNS name.
class HostNameSource {
public:
    virtual ~HostNameSource() = default;
    virtual void LookupHostName(const char* address, char* out, size_t outSize) = 0;

    virtual bool FindHostName(std::string_view address, std::string& name) {
        const std::string text(address);
        std::vector<char> buffer(1026 + text.size());
        LookupHostName(text.c_str(), buffer.data(), buffer.size());
        name.assign(buffer.data());
        const bool pending = name.size() == text.size() + 2 && name.front() == '(' && name.back() == ')' &&
                             name.compare(1, text.size(), text) == 0;
        return !pending;
    }
};

}  // namespace varnel
