#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "platform/ConnectEventSource.h"

namespace varnel {

// Events a test pushes (from any thread: a table read runs on a thread of its own while instant
// cut is on); the descriptor polls readable while some wait. Open answers as `refuse` says (empty:
// it opens).
class FakeConnectEventSource : public ConnectEventSource {
  public:
    std::string refuse;
    int opens = 0;

    FakeConnectEventSource() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~FakeConnectEventSource() override { close(fd_); }

    void Push(const ConnectEvent& e) {
        std::lock_guard<std::mutex> lock(mutex_);
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
        std::deque<ConnectEvent> taken;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (open_) taken.swap(waiting_);
        }
        for (const ConnectEvent& e : taken) sink(e);
        return taken.size();
    }

  private:
    int fd_;
    bool open_ = false;
    std::mutex mutex_;
    std::deque<ConnectEvent> waiting_;
};

}  // namespace varnel
