#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/Clock.h"
#include "platform/ReverseLookup.h"
#include "platform/Sleeper.h"
#include "resolve/HostNameCache.h"
#include "session/HostNameSource.h"

namespace varnel {

// Resolves IPv4 and IPv6 addresses to host names in the background without ever making the caller
// wait. LookupHostName answers from the HostNameCache or, while the name is not known, with
// "(address)"; in the latter case it hands the address to a free slot, and the name found is stored
// in the cache, where the next call finds it. A failed lookup stores the address text itself, so
// the address is not asked again until the cache is emptied.
//
// Two ways of looking up, chosen by the ReverseLookup at construction:
// - Blocking lookup: kSlotCount slots, a worker thread of its own per request. A worker, in order:
//   marks its slot Running and copies the address; asks ReverseLookup::NameInfo; when that fails,
//   PrivateAddressFallback is on and the address is private (10/8, 172.16/12, 192.168/16), asks
//   ReverseLookup::HostByAddr; stores the result in the cache; sleeps kSlotHoldTime; frees its slot.
//   An IPv6 address text is asked of ReverseLookup::NameInfo6 alone.
// - Asynchronous lookup (ReverseLookup::Asynchronous): kAsyncSlotCount slots and no thread of the
//   pool's own: the slot is Running from the start, the lookup's answer is stored and the slot
//   freed on the lookup's thread. There is no second try (the lookup asks every source it has).
// Address texts that are neither four dotted decimal numbers (0-255) nor IPv6 are not looked up at
// all: their name is the text itself.
//
// No lookup holds its slot for longer than kLookupTimeoutMs: a call that finds a slot older than
// that stores the failure (the address text) for its address and frees the slot, so hanging
// lookups cannot keep the others waiting. An answer that comes after that is stored only when it
// is a name. Ages are measured with `clock` (the steady clock when none is given), on the caller's
// thread only.
//
// Slots: Free -> Assigned (LookupHostName, worker about to start) -> Running -> Free. An address
// already waiting in a slot (Assigned or Running, compared ignoring ASCII case) takes no second
// one, and an address whose name reached the cache since the caller missed it is not asked again.
// At most one lookup is started per call; with all slots busy nothing is started and the address
// is asked again at a later call.
//
// Threads and locks:
// - LookupHostName, FindHostName, PeekHostName, Shutdown and the setters are for one thread at a
//   time (the tick's thread). Observers (slotState, BusySlots) may be called from any thread.
// - The caller never waits for a lookup: it takes the cache's mutex for one map look-up and the
//   pool's slot mutex for the slot scan. Workers and answers hold the slot mutex only to change
//   their slot and to insert into the cache (the slot mutex is taken before the cache's, never the
//   other way), and never hold either mutex during the lookup or the sleep.
//
// Lifetime and shutdown: the slots, the cache, the lookup and the sleeper are held through a
// shared state that every worker keeps alive with a shared_ptr until it ends (an asynchronous
// answer holds it only weakly). Destroying the pool (or Shutdown) therefore waits for nothing:
// workers still inside a lookup finish it later on their own, find the pool shut down, drop their
// result and release the shared state. No worker ever touches the ResolverPool object itself. After
// Shutdown returns no lookup is started and nothing is written to the cache, so a flush made after
// Shutdown stays empty. Workers still blocked in the system's resolver when the process exits are
// ended with it.
class ResolverPool : public HostNameSource {
  public:
    static constexpr int kSlotCount = 12;
    static constexpr int kAsyncSlotCount = 256;
    static constexpr uint32_t kLookupTimeoutMs = 2000;
    static constexpr std::chrono::milliseconds kSlotHoldTime{10};

    enum class SlotState : uint8_t { kFree = 0, kAssigned = 1, kRunning = 2 };

    // Runs `work` on a new thread; returns false when no thread could be started (`work` then never
    // runs). Called only on the LookupHostName thread.
    using WorkerStarter = std::function<bool(std::function<void()> work)>;

    // The default WorkerStarter: a detached std::thread with the default stack size.
    static bool StartDetachedThread(std::function<void()> work);

    // `cache` and `lookup` must not be null. A null `sleeper` sleeps for real (SystemSleeper); a
    // null `clock` measures slot ages with the steady clock. PrivateAddressFallback starts on.
    ResolverPool(std::shared_ptr<HostNameCache> cache, std::shared_ptr<ReverseLookup> lookup,
                 std::shared_ptr<Sleeper> sleeper = nullptr, WorkerStarter starter = StartDetachedThread,
                 std::shared_ptr<Clock> clock = nullptr);
    ~ResolverPool() override;  // Shutdown(); does not wait for workers

    ResolverPool(const ResolverPool&) = delete;
    ResolverPool& operator=(const ResolverPool&) = delete;

    // Writes the cached name of `address`, or "(address)", into `out` (cut with CopyFixedText at a
    // UTF-8 character boundary; nothing is written when outSize is 0) and, on a cache miss, may
    // start one worker for it as described above. A null `address` is treated as "".
    void LookupHostName(const char* address, char* out, size_t outSize) override;
    // The whole cached name (no length limit); false while it is not known, a lookup then being
    // started as by LookupHostName.
    bool FindHostName(std::string_view address, std::string& name) override;
    // The whole cached name; false while it is not known. Starts nothing.
    bool PeekHostName(std::string_view address, std::string& name) override;

    // Whether a failed lookup of a private address is tried again with HostByAddr. Read by each
    // worker when its first lookup has failed.
    void SetPrivateAddressFallback(bool on);
    bool PrivateAddressFallback() const;

    // Stops the pool for good (see above); returns at once. Repeating it does nothing.
    void Shutdown();

    SlotState slotState(int index) const;
    int BusySlots() const;  // slots not Free
    int PendingLookups() const override { return BusySlots(); }
    int slotCount() const;  // kSlotCount, or kAsyncSlotCount with an asynchronous lookup
    const std::shared_ptr<HostNameCache>& cache() const { return cache_; }

  private:
    struct Shared;

    static void ResolveSlot(Shared& shared, size_t index, uint64_t ticket);
    // Stores `name` for the lookup `ticket` of slot `index` and frees the slot; a lookup whose slot
    // was taken from it stores only a name found.
    static void Finish(Shared& shared, size_t index, uint64_t ticket, const std::string& address,
                       const std::string& name, bool found);
    void StartLookup(std::string_view address);
    // Hands the lookup of slot `index` to the asynchronous lookup; false when it was refused.
    bool BeginAsync(std::string_view address, size_t index, uint64_t ticket);
    uint32_t NowMs() const;

    std::shared_ptr<HostNameCache> cache_;
    std::shared_ptr<Shared> shared_;
    WorkerStarter starter_;
    std::shared_ptr<Clock> clock_;
};

}  // namespace varnel
