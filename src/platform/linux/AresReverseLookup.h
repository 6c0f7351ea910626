#pragma once

#include <memory>

#include "platform/linux/SystemReverseLookup.h"

namespace varnel {

// ReverseLookup through c-ares: one event-loop thread of its own runs every lookup at once, so
// lookups that hang (a name server that never answers) cost no thread each and keep no other
// lookup waiting. Sources in order: the hosts file (/etc/hosts), then the name servers of
// /etc/resolv.conf, read when the object is made. Every lookup ends within kAnswerTimeoutMs: the
// name servers are tried once each, and a lookup still unanswered at its deadline is answered
// "no name" by the loop itself.
//
// Asynchronous() is true once the loop runs. When c-ares cannot be started (no memory, no
// descriptors) it is false and the blocking calls fall back to the C library (SystemReverseLookup).
// The blocking calls otherwise wait for the loop's answer. HostByAddr asks the same sources as
// NameInfo (c-ares has no separate host-entry lookup).
//
// Threads: any, concurrently. Answers (`done`) are called on the loop's thread, never under a lock
// of this object, and may start further lookups. Destruction stops the loop: lookups still in
// flight are answered "no name"; it waits for the loop thread unless it runs on that thread (a
// `done` that dropped the last owner), in which case the loop ends by itself after that answer.
class AresReverseLookup : public SystemReverseLookup {
  public:
    AresReverseLookup();
    ~AresReverseLookup() override;

    bool NameInfo(uint32_t addrNetworkOrder, std::string& name) override;
    bool HostByAddr(uint32_t addrNetworkOrder, std::string& name) override;
    bool NameInfo6(const Ip6Address& addr, std::string& name) override;

    bool Asynchronous() const override;
    bool BeginNameInfo(uint32_t addrNetworkOrder, Done done) override;
    bool BeginNameInfo6(const Ip6Address& addr, Done done) override;

  private:
    struct Engine;
    bool Wait(bool v6, uint32_t addr4, const Ip6Address& addr6, std::string& name);

    std::shared_ptr<Engine> engine_;  // null when c-ares could not be started
};

}  // namespace varnel
