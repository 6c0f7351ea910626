#include "platform/linux/SystemClock.h"

#include <time.h>

namespace varnel {

uint32_t SystemClock::TickMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

std::tm SystemClock::LocalTime() {
    const time_t now = time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace varnel
