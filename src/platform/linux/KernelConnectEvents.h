#pragma once

#include <cstdint>
#include <string>

#include "platform/ConnectEventSource.h"

struct connect_events_bpf;
struct ring_buffer;

namespace varnel {

// The kernel's connection events through a small BPF program on the inet_sock_set_state
// tracepoint (bpf/connect_events.bpf.c) and its ring buffer, for the sockets of this process's
// network namespace. Loading needs CAP_BPF and CAP_PERFMON (or root) and a kernel with BTF; Open
// says which is missing. The program is detached when the object goes.
//
// In a build without the BPF program (no clang, bpftool or libbpf, or a build machine without
// BTF) Open always fails and says so.
//
// Threads: one thread uses the object.
class KernelConnectEvents : public ConnectEventSource {
  public:
    KernelConnectEvents() = default;
    ~KernelConnectEvents() override;

    bool Open(std::string& reason) override;
    int fd() const override { return fd_; }
    size_t Drain(const std::function<void(const ConnectEvent&)>& sink) override;

    // Records the ring buffer had no room for, and records refused by the decoder, since Open.
    uint64_t dropped() const;
    uint64_t malformed() const { return malformed_; }
    // False when this build has no BPF program.
    static bool Built();

  private:
    void Close();
    static int OnRecord(void* self, void* data, size_t size);

    connect_events_bpf* skel_ = nullptr;
    ring_buffer* ring_ = nullptr;
    int fd_ = -1;
    uint64_t malformed_ = 0;
    const std::function<void(const ConnectEvent&)>* sink_ = nullptr;
    size_t delivered_ = 0;
};

}  // namespace varnel
