#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/TcpRow.h"

namespace varnel {

// One TCP socket entering a state in which a rule may cut it, as the kernel reports it the moment
// it happens. `row` follows TcpRow (its state is the table's code; owningPid is the owner, 0 when
// the event could not name one). `comm` is the owner's command name as the kernel keeps it (at
// most 15 bytes, terminated, only printable ASCII kept), empty when the owner is not known.
struct ConnectEvent {
    TcpRow row{};
    uint64_t cookie = 0;
    char comm[16] = {};
};

// A stream of connection events from the operating system, for cutting a connection between two
// polls. Where the system cannot give it (no right to, no support), Open says why and the program
// goes on polling; a source that opened may still miss events (a full buffer): the poll stays the
// authority and catches those connections.
//
// Threads: one thread uses a source.
class ConnectEventSource {
  public:
    ConnectEventSource() = default;
    ConnectEventSource(const ConnectEventSource&) = delete;
    ConnectEventSource& operator=(const ConnectEventSource&) = delete;
    virtual ~ConnectEventSource() = default;

    // Starts the stream. False with `reason` set (one line for a person, no line feed) when it
    // cannot run here; it may then be tried again later.
    virtual bool Open(std::string& reason) = 0;
    // A descriptor that polls readable (POLLIN) while events wait; -1 when not open.
    virtual int fd() const = 0;
    // Hands every waiting event to `sink`, oldest first, without blocking; returns how many.
    virtual size_t Drain(const std::function<void(const ConnectEvent&)>& sink) = 0;
};

}  // namespace varnel
