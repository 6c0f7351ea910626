#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/ReverseLookup.h"
#include "platform/Sleeper.h"
#include "resolve/HostNameCache.h"
#include "session/HostNameSource.h"

namespace varnel {

// Resolves IPv4 and IPv6 addresses to host names on background threads without ever making the caller
// wait. LookupHostName answers from the HostNameCache or, while the name is not known, with
// "(address)"; in the latter case it hands the address to one of kSlotCount slots, and a worker
// thread of its own (one per request) looks the name up and stores it in the cache, where the
// next call finds it. A failed lookup stores the address text itself, so the address is not asked
// again until the cache is emptied.
//
// A worker, in order: marks its slot Running and copies the address; asks
// ReverseLookup::NameInfo; when that fails, PrivateAddressFallback is on and the address is
// private (10/8, 172.16/12, 192.168/16), asks ReverseLookup::HostByAddr; stores the result in the
// cache; sleeps kSlotHoldTime; frees its slot. An IPv6 address text is asked of
// ReverseLookup::NameInfo6 alone (there is no fallback for it). Other address texts, those that are
// neither four dotted decimal numbers (0-255) nor IPv6, are not looked up at all: their name is
// the text itself.
//
// Slots: Free -> Assigned (LookupHostName, worker about to start) -> Running (worker) -> Free
// (worker). A new request is not started while a Running slot holds the same address (compared
// ignoring ASCII case); Assigned slots are not compared, so two requests for one address made
// before the first worker has begun both run and the later insertion wins. At most one worker is
// started per call; with all slots busy nothing is started and the address is asked again at a
// later call.
//
// Threads and locks:
// - LookupHostName, Shutdown and the setters are for one thread at a time (the tick's thread).
//   Observers (slotState, BusySlots) may be called from any thread.
// - The caller never waits for a lookup: it takes the cache's mutex for one map look-up and the
//   pool's slot mutex for the slot scan. Workers hold the slot mutex only to change their slot and
//   to insert into the cache (the slot mutex is taken before the cache's, never the other way), and
//   never hold either mutex during the lookup or the sleep.
// - The slot mutex guards every slot's state and address, so the duplicate test never reads an
//   address that a worker is emptying.
//
// Lifetime and shutdown: the slots, the cache, the lookup and the sleeper are held through a
// shared state that every worker keeps alive with a shared_ptr until it ends. Destroying the pool
// (or Shutdown) therefore waits for nothing: workers still inside a lookup finish it later on
// their own, find the pool shut down, drop their result and release the shared state; the last one
// out destroys it. No worker ever touches the ResolverPool object itself. After Shutdown returns
// no worker is started and no worker writes to the cache, so a flush made after Shutdown stays
// empty. Workers still blocked in the system's resolver when the process exits are ended with it.
class ResolverPool : public HostNameSource {
  public:
    static constexpr int kSlotCount = 12;
    static constexpr std::chrono::milliseconds kSlotHoldTime{10};

    enum class SlotState : uint8_t { kFree = 0, kAssigned = 1, kRunning = 2 };

    // Runs `work` on a new thread; returns false when no thread could be started (`work` then never
    // runs). Called only on the LookupHostName thread.
    using WorkerStarter = std::function<bool(std::function<void()> work)>;

    // The default WorkerStarter: a detached std::thread with the default stack size.
    static bool StartDetachedThread(std::function<void()> work);

    // `cache` and `lookup` must not be null. A null `sleeper` sleeps for real (SystemSleeper).
    // PrivateAddressFallback starts on.
    ResolverPool(std::shared_ptr<HostNameCache> cache, std::shared_ptr<ReverseLookup> lookup,
                 std::shared_ptr<Sleeper> sleeper = nullptr, WorkerStarter starter = StartDetachedThread);
    ~ResolverPool() override;  // Shutdown(); does not wait for workers

    ResolverPool(const ResolverPool&) = delete;
    ResolverPool& operator=(const ResolverPool&) = delete;

    // Writes the cached name of `address`, or "(address)", into `out` (cut with CopyFixedText at a
    // UTF-8 character boundary; nothing is written when outSize is 0) and, on a cache miss, may
    // start one worker for it as described above. A null `address` is treated as "".
    void LookupHostName(const char* address, char* out, size_t outSize) override;

    // Whether a failed lookup of a private address is tried again with HostByAddr. Read by each
    // worker when its first lookup has failed.
    void SetPrivateAddressFallback(bool on);
    bool PrivateAddressFallback() const;

    // Stops the pool for good (see above); returns at once. Repeating it does nothing.
    void Shutdown();

    SlotState slotState(int index) const;
    int BusySlots() const;  // slots not Free
    const std::shared_ptr<HostNameCache>& cache() const { return cache_; }

  private:
    struct Shared;

    static void ResolveSlot(Shared& shared, int index);
    void StartLookup(std::string_view address);

    std::shared_ptr<HostNameCache> cache_;
    std::shared_ptr<Shared> shared_;
    WorkerStarter starter_;
};

}  // namespace varnel
