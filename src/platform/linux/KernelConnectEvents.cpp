#include "platform/linux/KernelConnectEvents.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/ConnectEventRecord.h"

#if VARNEL_HAVE_BPF
#include <bpf/libbpf.h>

#include "connect_events.skel.h"
#endif

namespace varnel {

KernelConnectEvents::~KernelConnectEvents() {
    Close();
}

bool KernelConnectEvents::Built() {
    return VARNEL_HAVE_BPF != 0;
}

#if VARNEL_HAVE_BPF

namespace {

// libbpf prints its own diagnostics on stderr; the caller reports one reason instead.
int Quiet(libbpf_print_level, const char*, va_list) {
    return 0;
}

std::string Why(const char* step, int error) {
    if (error < 0) error = -error;
    std::string text = std::string(step) + ": " + std::strerror(error);
    if (error == EPERM || error == EACCES) text += " (needs CAP_BPF and CAP_PERFMON, or root)";
    return text;
}

}  // namespace

bool KernelConnectEvents::Open(std::string& reason) {
    Close();
    libbpf_set_print(Quiet);
    struct stat btf {};
    if (stat("/sys/kernel/btf/vmlinux", &btf) != 0) {
        reason = "the kernel has no BTF (/sys/kernel/btf/vmlinux)";
        return false;
    }
    struct stat ns {};
    if (stat("/proc/self/ns/net", &ns) != 0) {
        reason = Why("cannot tell the network namespace", errno);
        return false;
    }
    skel_ = connect_events_bpf__open();
    if (skel_ == nullptr) {
        reason = Why("cannot open the BPF program", errno);
        return false;
    }
    skel_->rodata->netns_ino = static_cast<uint32_t>(ns.st_ino);
    if (int err = connect_events_bpf__load(skel_); err != 0) {
        reason = Why("the kernel refused the BPF program", err);
        Close();
        return false;
    }
    if (int err = connect_events_bpf__attach(skel_); err != 0) {
        reason = Why("cannot attach to the inet_sock_set_state tracepoint", err);
        Close();
        return false;
    }
    ring_ = ring_buffer__new(bpf_map__fd(skel_->maps.events), &KernelConnectEvents::OnRecord, this, nullptr);
    if (ring_ == nullptr) {
        reason = Why("cannot map the ring buffer", errno);
        Close();
        return false;
    }
    fd_ = ring_buffer__epoll_fd(ring_);
    return true;
}

void KernelConnectEvents::Close() {
    if (ring_ != nullptr) ring_buffer__free(ring_);
    ring_ = nullptr;
    if (skel_ != nullptr) connect_events_bpf__destroy(skel_);
    skel_ = nullptr;
    fd_ = -1;
}

int KernelConnectEvents::OnRecord(void* self, void* data, size_t size) {
    auto* me = static_cast<KernelConnectEvents*>(self);
    ConnectEvent event;
    if (!ConnectEventRecord::Decode(data, size, event)) {
        ++me->malformed_;
        return 0;
    }
    ++me->delivered_;
    if (me->sink_ != nullptr) (*me->sink_)(event);
    return 0;
}

size_t KernelConnectEvents::Drain(const std::function<void(const ConnectEvent&)>& sink) {
    if (ring_ == nullptr) return 0;
    sink_ = &sink;
    delivered_ = 0;
    ring_buffer__consume(ring_);
    sink_ = nullptr;
    return delivered_;
}

uint64_t KernelConnectEvents::dropped() const {
    return skel_ != nullptr ? skel_->bss->dropped : 0;
}

#else

bool KernelConnectEvents::Open(std::string& reason) {
    reason = "this build has no BPF program";
    return false;
}

void KernelConnectEvents::Close() {}

int KernelConnectEvents::OnRecord(void*, void*, size_t) {
    return 0;
}

size_t KernelConnectEvents::Drain(const std::function<void(const ConnectEvent&)>&) {
    return 0;
}

uint64_t KernelConnectEvents::dropped() const {
    return 0;
}

#endif

}  // namespace varnel
