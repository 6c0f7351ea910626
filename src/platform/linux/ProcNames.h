#pragma once

#include <cstdint>

namespace varnel {

// The process id a /proc entry name stands for; -1 for any other entry ("self", "net", ...).
// Nine digits at most: a Linux PID never has more.
inline int32_t PidFromProcName(const char* name) {
    int32_t pid = 0;
    int digits = 0;
    for (const char* c = name; *c; ++c, ++digits) {
        if (*c < '0' || *c > '9' || digits >= 9) return -1;
        pid = pid * 10 + (*c - '0');
    }
    return digits > 0 && pid > 0 ? pid : -1;
}

}  // namespace varnel
