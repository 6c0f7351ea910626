#pragma once

#include <chrono>

namespace varnel {

// Suspends the calling thread, injectable so tests need not wait for real time.
// Threads: any; many threads may sleep on one object at the same time.
class Sleeper {
  public:
    virtual ~Sleeper() = default;
    virtual void SleepFor(std::chrono::milliseconds duration) = 0;
};

}  // namespace varnel
