#include "session/Collation.h"

#include <array>
#include <cstdint>

namespace varnel {

namespace {

struct Weights {
    std::array<uint16_t, 256> primary{};
    std::array<uint8_t, 256> upper{};  // 1 for A-Z
};

Weights MakeWeights() {
    Weights w;
    uint16_t next = 1;
    for (int c = 1; c < 0x20; ++c) w.primary[c] = next++;
    w.primary[' '] = next++;
    for (int c = 0x21; c < 0x7F; ++c) {
        bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!alnum) w.primary[c] = next++;
    }
    for (int c = '0'; c <= '9'; ++c) w.primary[c] = next++;
    for (int c = 'a'; c <= 'z'; ++c) {
        w.primary[c] = next;
        w.primary[c - 'a' + 'A'] = next++;
        w.upper[c - 'a' + 'A'] = 1;
    }
    w.primary[0x7F] = next++;
    for (int c = 0x80; c < 0x100; ++c) w.primary[c] = next++;
    return w;
}

const Weights kWeights = MakeWeights();

}  // namespace

int CompareSortKeys(const char* a, const char* b) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    int caseOrder = 0;
    for (;; ++x, ++y) {
        if (*x == *y) {
            if (*x == 0) break;
            continue;
        }
        int d = int(kWeights.primary[*x]) - int(kWeights.primary[*y]);
        if (d != 0) return d;
        // Same letter in another case: remember the first such difference as the tie-break.
        if (caseOrder == 0) caseOrder = int(kWeights.upper[*x]) - int(kWeights.upper[*y]);
    }
    return caseOrder;
}

}  // namespace varnel
