#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace varnel::testing {

// Polls `done` every millisecond until it holds or `timeout` passes; returns its last value.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A worker starter that does not start anything: it keeps each worker so the test decides when
// (and on which thread) it runs. While kept, the worker's slot stays Assigned.
class QueuedStarter {
  public:
    bool Start(std::function<void()> work) {
        std::lock_guard lock(mutex_);
        queued_.push_back(std::move(work));
        return true;
    }
    size_t size() {
        std::lock_guard lock(mutex_);
        return queued_.size();
    }
    // Runs the i-th kept worker on the calling thread.
    void Run(size_t i) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            work = std::move(queued_.at(i));
        }
        work();
    }

  private:
    std::mutex mutex_;
    std::vector<std::function<void()>> queued_;
};

}  // namespace varnel::testing
