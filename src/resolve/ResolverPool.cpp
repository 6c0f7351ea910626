#include "resolve/ResolverPool.h"

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/Mutex.h"
#include "platform/SystemSleeper.h"
#include "session/AddressText.h"
#include "platform/ThreadAnnotations.h"
#include "text/FixedText.h"

namespace varnel {

namespace {

// Four decimal numbers 0-255 separated by dots, nothing else: the form the connection snapshot
// writes. Gives the address in network byte order and the four numbers.
bool ParseDottedQuad(std::string_view text, std::array<uint8_t, 4>& parts) {
    size_t pos = 0;
    for (size_t i = 0; i < 4; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        unsigned value = 0;
        size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        parts[i] = static_cast<uint8_t>(value);
    }
    return pos == text.size();
}

bool IsPrivate(const std::array<uint8_t, 4>& p) {
    return p[0] == 10 || (p[0] == 192 && p[1] == 168) || (p[0] == 172 && p[1] >= 16 && p[1] <= 31);
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

struct ResolverPool::Shared {
    struct Slot {
        SlotState state = SlotState::kFree;
        std::string address;  // empty when Free
    };

    Shared(std::shared_ptr<HostNameCache> c, std::shared_ptr<ReverseLookup> l, std::shared_ptr<Sleeper> s)
        : cache(std::move(c)), lookup(std::move(l)), sleeper(std::move(s)) {}

    // Set once at construction; the objects themselves are safe for concurrent use.
    const std::shared_ptr<HostNameCache> cache;
    const std::shared_ptr<ReverseLookup> lookup;
    const std::shared_ptr<Sleeper> sleeper;

    std::atomic<bool> privateAddressFallback{true};

    mutable Mutex mutex;
    std::array<Slot, kSlotCount> slots GUARDED_BY(mutex);
    bool stopped GUARDED_BY(mutex) = false;
};

bool ResolverPool::StartDetachedThread(std::function<void()> work) {
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

ResolverPool::ResolverPool(std::shared_ptr<HostNameCache> cache, std::shared_ptr<ReverseLookup> lookup,
                           std::shared_ptr<Sleeper> sleeper, WorkerStarter starter)
    : cache_(cache),
      shared_(std::make_shared<Shared>(std::move(cache), std::move(lookup),
                                       sleeper ? std::move(sleeper) : std::make_shared<SystemSleeper>())),
      starter_(std::move(starter)) {}

ResolverPool::~ResolverPool() {
    Shutdown();
}

void ResolverPool::SetPrivateAddressFallback(bool on) {
    shared_->privateAddressFallback.store(on);
}

bool ResolverPool::PrivateAddressFallback() const {
    return shared_->privateAddressFallback.load();
}

void ResolverPool::Shutdown() {
    MutexLock lock(shared_->mutex);
    shared_->stopped = true;
}

ResolverPool::SlotState ResolverPool::slotState(int index) const {
    MutexLock lock(shared_->mutex);
    return shared_->slots.at(static_cast<size_t>(index)).state;
}

int ResolverPool::BusySlots() const {
    MutexLock lock(shared_->mutex);
    int busy = 0;
    for (const auto& slot : shared_->slots) busy += slot.state != SlotState::kFree;
    return busy;
}

void ResolverPool::LookupHostName(const char* address, char* out, size_t outSize) {
    std::string_view text = address ? address : "";
    if (outSize == 0) {
        std::string unused;
        if (!cache_->Find(text, unused)) StartLookup(text);
        return;
    }
    if (cache_->CopyName(text, out, outSize)) return;
    std::string pending;
    pending.reserve(text.size() + 2);
    pending.append("(").append(text).append(")");
    CopyFixedText(out, outSize, pending);
    StartLookup(text);
}

void ResolverPool::StartLookup(std::string_view address) {
    Shared& s = *shared_;
    size_t index = kSlotCount;
    {
        MutexLock lock(s.mutex);
        if (s.stopped) return;
        for (const auto& slot : s.slots) {
            if (slot.state == SlotState::kRunning && EqualsIgnoreAsciiCase(slot.address, address)) return;
        }
        for (size_t i = 0; i < s.slots.size(); ++i) {
            if (s.slots[i].state == SlotState::kFree) {
                index = i;
                break;
            }
        }
        if (index == kSlotCount) return;
        s.slots[index].address.assign(address);
        s.slots[index].state = SlotState::kAssigned;
    }
    // The thread is started outside the lock: the new worker's first act is to take it.
    bool started = false;
    try {
        started = starter_([shared = shared_, index] { ResolveSlot(*shared, static_cast<int>(index)); });
    } catch (...) {
        started = false;
    }
    if (!started) {
        MutexLock lock(s.mutex);
        s.slots[index].address.clear();
        s.slots[index].state = SlotState::kFree;
    }
}

void ResolverPool::ResolveSlot(Shared& s, int index) {
    const auto i = static_cast<size_t>(index);
    std::string address;
    {
        MutexLock lock(s.mutex);
        s.slots[i].state = SlotState::kRunning;
        address = s.slots[i].address;
    }

    // No name found (or none asked for) leaves the address text as the name.
    std::string name = address;
    std::array<uint8_t, 4> parts{};
    if (ParseDottedQuad(address, parts)) {
        uint32_t addr;
        std::memcpy(&addr, parts.data(), sizeof addr);
        std::string found;
        if (s.lookup->NameInfo(addr, found) && !found.empty()) {
            name = std::move(found);
        } else if (s.privateAddressFallback.load() && IsPrivate(parts)) {
            found.clear();
            if (s.lookup->HostByAddr(addr, found) && !found.empty()) name = std::move(found);
        }
    } else if (AddressText::IsIp6Text(address.c_str())) {
        Ip6Address addr6;
        std::string found;
        if (AddressText::ParseIp6(address.c_str(), addr6) && s.lookup->NameInfo6(addr6, found) && !found.empty())
            name = std::move(found);
    }

    bool stopped;
    {
        // Checked and inserted under the slot mutex so that nothing reaches the cache once
        // Shutdown has returned.
        MutexLock lock(s.mutex);
        stopped = s.stopped;
        if (!stopped) s.cache->Insert(address, name);
    }
    // Holding the slot a little longer keeps the duplicate test seeing this address until the
    // caller has had a chance to find the name in the cache.
    if (!stopped) s.sleeper->SleepFor(kSlotHoldTime);

    MutexLock lock(s.mutex);
    s.slots[i].address.clear();
    s.slots[i].state = SlotState::kFree;
}

}  // namespace varnel
