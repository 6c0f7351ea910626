#pragma once

#include <cstdint>
#include <ctime>

namespace varnel {

// Time as the program sees it, injectable so tests can set it.
//   TickMs    - a millisecond counter that only moves forward and wraps at 2^32 (callers subtract
//               ticks as unsigned 32-bit values, so a wrap still gives the right difference).
//   LocalTime - the local wall-clock time, broken down.
// Threads: any.
class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t TickMs() = 0;
    virtual std::tm LocalTime() = 0;
};

}  // namespace varnel
