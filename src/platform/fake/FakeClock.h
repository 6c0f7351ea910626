#pragma once

#include "platform/Clock.h"

namespace varnel {

// A clock that moves only when the test moves it.
class FakeClock : public Clock {
public:
    uint32_t tick = 1000;
    std::tm local{};  // tm_year etc. as the test sets them

    FakeClock() {
        local.tm_year = 2014 - 1900;
        local.tm_mon = 11;
        local.tm_mday = 31;
        local.tm_hour = 23;
        local.tm_min = 59;
        local.tm_sec = 58;
    }
    void Advance(uint32_t ms) { tick += ms; }
    uint32_t TickMs() override { return tick; }
    std::tm LocalTime() override { return local; }
};

}  // namespace varnel
