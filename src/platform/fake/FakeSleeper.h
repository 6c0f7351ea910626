#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/Sleeper.h"

namespace varnel {

// A sleeper that returns at once and records each requested duration. While blocked (Block),
// sleepers wait until Release, so a test can keep a thread parked at its sleep.
// Threads: any, concurrently.
class FakeSleeper : public Sleeper {
  public:
    void SleepFor(std::chrono::milliseconds duration) override {
        std::unique_lock lock(mutex_);
        durations_.push_back(duration);
        if (!blocked_) return;
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return !blocked_; });
        --waiting_;
    }

    void Block() {
        std::lock_guard lock(mutex_);
        blocked_ = true;
    }
    void Release() {
        {
            std::lock_guard lock(mutex_);
            blocked_ = false;
        }
        changed_.notify_all();
    }
    bool WaitForWaiting(size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return waiting_ >= count; });
    }
    std::vector<std::chrono::milliseconds> durations() const {
        std::lock_guard lock(mutex_);
        return durations_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool blocked_ = false;
    size_t waiting_ = 0;
    std::vector<std::chrono::milliseconds> durations_;
};

}  // namespace varnel
