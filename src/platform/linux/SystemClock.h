#pragma once

#include "platform/Clock.h"

namespace varnel {

// The machine's clocks: TickMs is CLOCK_MONOTONIC in milliseconds, cut to 32 bits (it wraps
// after about 49.7 days, and may be 0 at a wrap); LocalTime is the wall-clock time in the local
// time zone. Threads: any.
class SystemClock : public Clock {
  public:
    uint32_t TickMs() override;
    std::tm LocalTime() override;
};

}  // namespace varnel
