#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "autokill/AutoKill.h"
#include "platform/ConnectEventSource.h"
#include "session/SessionMonitor.h"

namespace varnel {

// The fast path of auto kill: judges the one connection a kernel event names, between two ticks,
// and cuts it at once when a rule says so, instead of at the next tick up to 500 ms later.
//
// The connection's texts are built as the tick builds those of a connection the list does not
// show (SessionMonitor::BuildKeptRow): its state as the rules judge it, its first-seen tick from
// the last poll when that poll had it (else now, as the next poll would make it), its owner from
// the event or else from the last poll, and host names only as the cache knows them. It is then
// handed to AutoKill::ConsiderEvent: same evaluator, reset, count and block-log line. The tick
// stays the authority and catches every connection the events miss. A connection waits for the
// tick (nothing is done) when its verdict could depend on what is not known yet: a host name not
// looked up yet that a rule reads, or an owner or an owner's name the rules read but the event and
// the last poll do not give. Events for sockets a poll would not keep (listeners, sockets without
// a local port yet) are passed over, as are all events before the first poll or while the monitor
// is stopped.
//
// Borrowed dependencies must outlive it. The tick's thread only (between ticks).
class InstantCut {
  public:
    enum class Outcome {
        kIgnored,       // not a connection the tick would judge now, or nothing can be cut now
        kLeft,          // judged; no rule cuts it
        kWaitsForTick,  // the verdict could depend on a host name or an owner not known yet
        kCut,           // reset, counted and logged as the tick would
        kNotCut,        // a rule matched but the reset did not work; the tick retries and reports
    };
    struct Counts {
        uint64_t events = 0;
        uint64_t judged = 0;
        uint64_t cut = 0;
        uint64_t waited = 0;
    };

    InstantCut(SessionMonitor& monitor, AutoKill& autokill) : monitor_(monitor), autokill_(autokill) {}

    Outcome OnEvent(const ConnectEvent& event);
    const Counts& counts() const { return counts_; }

    // Opens `source` (borrowed; it must outlive its use here) and judges its events from then on;
    // false with `reason` set when it cannot run here, and the ticks alone cut.
    bool Attach(ConnectEventSource& source, std::string& reason);
    void Detach() { source_ = nullptr; }
    bool attached() const { return source_ != nullptr; }
    // The descriptor to wait on between ticks (POLLIN: events wait); -1 when not attached.
    int fd() const { return source_ != nullptr ? source_->fd() : -1; }
    // Judges every event waiting in the source; returns how many there were.
    size_t Drain();

    // "instant cut unavailable (REASON); cutting at each 500 ms tick", for the user, once.
    static std::string UnavailableText(const std::string& reason);

  private:
    // The last poll's connection with `key`, or nullptr. The poll's connections are indexed by key
    // hash the first time an event asks after each poll (a sort; no allocation once grown).
    const KeptConnection* FindKept(const ConnectionKey& key);

    SessionMonitor& monitor_;
    AutoKill& autokill_;
    SessionRecord scratchRecord_{};
    SessionRow scratchRow_{};
    Counts counts_;
    std::vector<std::pair<uint32_t, uint32_t>> keptIndex_;  // (key hash, index in kept()), sorted
    uint64_t indexedPoll_ = 0;                             // the poll keptIndex_ is of; 0: none
    ConnectEventSource* source_ = nullptr;
    std::function<void(const ConnectEvent&)> sink_;
};

}  // namespace varnel
