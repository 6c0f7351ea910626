#include "resolve/ResolverPool.h"

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

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
        uint32_t startedMs = 0;
        uint64_t ticket = 0;  // which lookup holds the slot; a new one for every lookup started
    };

    Shared(std::shared_ptr<HostNameCache> c, std::shared_ptr<ReverseLookup> l, std::shared_ptr<Sleeper> s)
        : cache(std::move(c)),
          lookup(std::move(l)),
          sleeper(std::move(s)),
          asynchronous(lookup->Asynchronous()),
          slots(static_cast<size_t>(asynchronous ? kAsyncSlotCount : kSlotCount)) {}

    // Set once at construction; the objects themselves are safe for concurrent use.
    const std::shared_ptr<HostNameCache> cache;
    const std::shared_ptr<ReverseLookup> lookup;
    const std::shared_ptr<Sleeper> sleeper;
    const bool asynchronous;

    std::atomic<bool> privateAddressFallback{true};

    mutable Mutex mutex;
    std::vector<Slot> slots GUARDED_BY(mutex);  // never resized
    uint64_t lastTicket GUARDED_BY(mutex) = 0;
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
                           std::shared_ptr<Sleeper> sleeper, WorkerStarter starter, std::shared_ptr<Clock> clock)
    : cache_(cache),
      shared_(std::make_shared<Shared>(std::move(cache), std::move(lookup),
                                       sleeper ? std::move(sleeper) : std::make_shared<SystemSleeper>())),
      starter_(std::move(starter)),
      clock_(std::move(clock)) {}

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

int ResolverPool::slotCount() const {
    return shared_->asynchronous ? kAsyncSlotCount : kSlotCount;
}

uint32_t ResolverPool::NowMs() const {
    if (clock_) return clock_->TickMs();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
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

bool ResolverPool::FindHostName(std::string_view address, std::string& name) {
    if (cache_->Find(address, name)) return true;
    StartLookup(address);
    return false;
}

bool ResolverPool::PeekHostName(std::string_view address, std::string& name) {
    return cache_->Find(address, name);
}

void ResolverPool::StartLookup(std::string_view address) {
    Shared& s = *shared_;
    const uint32_t now = NowMs();
    size_t index = s.slots.size();
    uint64_t ticket = 0;
    {
        MutexLock lock(s.mutex);
        if (s.stopped) return;
        // A lookup that has not answered in time counts as failed: its slot is free for others.
        for (auto& slot : s.slots) {
            if (slot.state == SlotState::kFree || now - slot.startedMs < kLookupTimeoutMs) continue;
            s.cache->Insert(slot.address, slot.address);
            slot.address.clear();
            slot.state = SlotState::kFree;
        }
        // The name may have arrived since the caller missed it; answers are stored under this lock.
        std::string known;
        if (s.cache->Find(address, known)) return;
        for (const auto& slot : s.slots) {
            if (slot.state != SlotState::kFree && EqualsIgnoreAsciiCase(slot.address, address)) return;
        }
        for (size_t i = 0; i < s.slots.size(); ++i) {
            if (s.slots[i].state == SlotState::kFree) {
                index = i;
                break;
            }
        }
        if (index == s.slots.size()) return;
        Shared::Slot& slot = s.slots[index];
        slot.address.assign(address);
        slot.state = s.asynchronous ? SlotState::kRunning : SlotState::kAssigned;
        slot.startedMs = now;
        slot.ticket = ticket = ++s.lastTicket;
    }
    bool started = false;
    if (s.asynchronous) {
        started = BeginAsync(address, index, ticket);
    } else {
        // The thread is started outside the lock: the new worker's first act is to take it.
        try {
            started = starter_([shared = shared_, index, ticket] { ResolveSlot(*shared, index, ticket); });
        } catch (...) {
            started = false;
        }
    }
    if (!started) {
        MutexLock lock(s.mutex);
        if (s.slots[index].ticket == ticket) {
            s.slots[index].address.clear();
            s.slots[index].state = SlotState::kFree;
        }
    }
}

bool ResolverPool::BeginAsync(std::string_view address, size_t index, uint64_t ticket) {
    std::weak_ptr<Shared> weak = shared_;
    std::string text(address);
    std::array<uint8_t, 4> parts{};
    Ip6Address addr6;
    const bool v4 = ParseDottedQuad(text, parts);
    if (!v4 && !(AddressText::IsIp6Text(text.c_str()) && AddressText::ParseIp6(text.c_str(), addr6))) {
        Finish(*shared_, index, ticket, text, text, false);  // nothing to ask: the text is its own name
        return true;
    }
    ReverseLookup::Done done = [weak, index, ticket, text](bool found, const std::string& name) {
        if (auto shared = weak.lock()) Finish(*shared, index, ticket, text, found && !name.empty() ? name : text,
                                              found && !name.empty());
    };
    try {
        if (v4) {
            uint32_t addr;
            std::memcpy(&addr, parts.data(), sizeof addr);
            return shared_->lookup->BeginNameInfo(addr, std::move(done));
        }
        return shared_->lookup->BeginNameInfo6(addr6, std::move(done));
    } catch (...) {
        return false;
    }
}

void ResolverPool::Finish(Shared& s, size_t index, uint64_t ticket, const std::string& address,
                          const std::string& name, bool found) {
    MutexLock lock(s.mutex);
    if (s.stopped) return;
    Shared::Slot& slot = s.slots[index];
    if (slot.ticket != ticket || slot.state == SlotState::kFree) {
        if (found) s.cache->Insert(address, name);  // late, but a name all the same
        return;
    }
    s.cache->Insert(address, name);
    slot.address.clear();
    slot.state = SlotState::kFree;
}

void ResolverPool::ResolveSlot(Shared& s, size_t i, uint64_t ticket) {
    std::string address;
    {
        MutexLock lock(s.mutex);
        if (s.slots[i].ticket != ticket) return;  // timed out before this worker began
        s.slots[i].state = SlotState::kRunning;
        address = s.slots[i].address;
    }

    // No name found (or none asked for) leaves the address text as the name.
    std::string name = address;
    bool found = false;
    std::array<uint8_t, 4> parts{};
    if (ParseDottedQuad(address, parts)) {
        uint32_t addr;
        std::memcpy(&addr, parts.data(), sizeof addr);
        std::string answer;
        if (s.lookup->NameInfo(addr, answer) && !answer.empty()) {
            name = std::move(answer);
            found = true;
        } else if (s.privateAddressFallback.load() && IsPrivate(parts)) {
            answer.clear();
            if (s.lookup->HostByAddr(addr, answer) && !answer.empty()) {
                name = std::move(answer);
                found = true;
            }
        }
    } else if (AddressText::IsIp6Text(address.c_str())) {
        Ip6Address addr6;
        std::string answer;
        if (AddressText::ParseIp6(address.c_str(), addr6) && s.lookup->NameInfo6(addr6, answer) && !answer.empty()) {
            name = std::move(answer);
            found = true;
        }
    }

    {
        // Checked and inserted under the slot mutex so that nothing reaches the cache once
        // Shutdown has returned. A slot taken from this worker (timed out) is not its to free.
        MutexLock lock(s.mutex);
        const bool mine = s.slots[i].ticket == ticket && s.slots[i].state != SlotState::kFree;
        if (!s.stopped && (mine || found)) s.cache->Insert(address, name);
        if (!mine) return;
        if (s.stopped) {
            s.slots[i].address.clear();
            s.slots[i].state = SlotState::kFree;
            return;
        }
    }
    // Holding the slot a little longer keeps the duplicate test seeing this address until the
    // caller has had a chance to find the name in the cache.
    s.sleeper->SleepFor(kSlotHoldTime);

    MutexLock lock(s.mutex);
    if (s.slots[i].ticket != ticket) return;
    s.slots[i].address.clear();
    s.slots[i].state = SlotState::kFree;
}

}  // namespace varnel
