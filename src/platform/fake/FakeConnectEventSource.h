#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <deque>
#include <string>

#include "platform/ConnectEventSource.h"

namespace varnel {

// Events a test pushes; the descriptor polls readable while some wait. Open answers as `refuse`
// says (empty: it opens).
class FakeConnectEventSource : public ConnectEventSource {
  public:
    std::string refuse;
    int opens = 0;

    FakeConnectEventSource() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~FakeConnectEventSource() override { close(fd_); }

    void Push(const ConnectEvent& e) {
        waiting_.push_back(e);
        const uint64_t one = 1;
        (void)!write(fd_, &one, sizeof one);
    }
    bool Open(std::string& reason) override {
        ++opens;
        reason = refuse;
        open_ = refuse.empty();
        return open_;
    }
    int fd() const override { return open_ ? fd_ : -1; }
    size_t Drain(const std::function<void(const ConnectEvent&)>& sink) override {
        uint64_t count;
        (void)!read(fd_, &count, sizeof count);
        size_t n = 0;
        while (open_ && !waiting_.empty()) {
            const ConnectEvent e = waiting_.front();
            waiting_.pop_front();
            sink(e);
            ++n;
        }
        return n;
    }

  private:
    int fd_;
    bool open_ = false;
    std::deque<ConnectEvent> waiting_;
};

}  // namespace varnel
