#pragma once

#include <thread>

#include "platform/Sleeper.h"

namespace varnel {

// Sleeps for real. Threads: any.
class SystemSleeper : public Sleeper {
  public:
    void SleepFor(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

}  // namespace varnel
