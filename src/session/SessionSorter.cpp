#include "session/SessionSorter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "session/Collation.h"

namespace varnel {

namespace {

// Equal keys are ordered by the connection's four-tuple, which no two rows share, so rows that tie
// on the sort column keep their places from tick to tick instead of trading them.
int CompareTuples(const SessionRecord& a, const SessionRecord& b) {
    if (a.localPort != b.localPort) return a.localPort < b.localPort ? -1 : 1;
    if (a.remotePort != b.remotePort) return a.remotePort < b.remotePort ? -1 : 1;
    if (int c = std::strcmp(a.localAddress, b.localAddress)) return c;
    return std::strcmp(a.remoteAddress, b.remoteAddress);
}

}  // namespace

void SessionSorter::OnColumnClick(int column) {
    if (column < 0 || column > 8) return;
    if (column == sortColumn_) sortDescending_ = !sortDescending_;
    sortColumn_ = column;
}

int SessionSorter::FormatColumnKey(const SessionRecord& r, int column, uint32_t now, char* out, int outSize,
                                   int addressWidth) {
    const int w = addressWidth;
    const unsigned elapsed = now - r.firstSeen;
    switch (column) {
        case 0:
            return std::snprintf(out, outSize, "%-*s%05d%05d", w, r.localAddress, r.localPort, r.remotePort);
        case 1:
            return std::snprintf(out, outSize, "%-64s%05d%05d", r.localHost, r.localPort, r.remotePort);
        case 2:
            return std::snprintf(out, outSize, "%05d%-*s%05d", r.localPort, w, r.remoteAddress, r.remotePort);
        case 3:
            return std::snprintf(out, outSize, "%-*s%05d%05d", w, r.remoteAddress, r.remotePort, r.localPort);
        case 4:
            return std::snprintf(out, outSize, "%-64s%05d%05d", r.remoteHost, r.remotePort, r.localPort);
        case 5:
            return std::snprintf(out, outSize, "%05d%-64s%05d", r.remotePort, r.remoteHost, r.localPort);
        case 6:
            return std::snprintf(out, outSize, "%02d%010u%05d%-*s", r.state, elapsed, r.localPort, w, r.remoteAddress);
        case 7:
            return std::snprintf(out, outSize, "%010u%05d%-*s%05d", elapsed, r.localPort, w, r.remoteAddress,
                                 r.remotePort);
        case 8:
            return std::snprintf(out, outSize, "%-64s%010u%05d%-*s%05d", r.processText, elapsed, r.localPort, w,
                                 r.remoteAddress, r.remotePort);
        default:
            out[0] = '\0';
            return 0;
    }
}

int SessionSorter::AddressWidth(const SessionTable& table) {
    const int n = std::clamp(table.rowCount, 0, SessionTable::kSlots);
    for (int slot = 0; slot < n; ++slot) {
        const SessionRecord& r = table.current[static_cast<size_t>(slot)];
        if (std::strchr(r.localAddress, ':') != nullptr || std::strchr(r.remoteAddress, ':') != nullptr)
            return kIpv6AddressWidth;
    }
    return kIpv4AddressWidth;
}

void SessionSorter::SortSessions(SessionTable& table, uint32_t now) const {
    const int n = std::clamp(table.rowCount, 0, SessionTable::kSlots);
    const int width = AddressWidth(table);
    for (int slot = 0; slot < n; ++slot) {
        SessionRecord& r = table.current[slot];
        char key[SessionRecord::kSortKeySize * 2];
        int len = FormatColumnKey(r, sortColumn_, now, key, SessionRecord::kSortKeySize, width);
        len = std::clamp(len, 0, kMaxKeyLength);
        // Chain the previous key behind the new one; both cut to the key's room.
        size_t old = std::strlen(r.sortKey);
        size_t room = static_cast<size_t>(kMaxKeyLength - len);
        std::memcpy(key + len, r.sortKey, std::min(old, room));
        key[len + std::min(old, room)] = '\0';
        std::memcpy(r.sortKey, key, std::strlen(key) + 1);
        table.displayOrder[slot] = &r;
    }
    auto* begin = table.displayOrder.data();
    const int sign = sortDescending_ ? -1 : 1;
    std::sort(begin, begin + n, [sign](const SessionRecord* a, const SessionRecord* b) {
        int c = CompareSortKeys(a->sortKey, b->sortKey);
        if (c == 0) c = CompareTuples(*a, *b);
        c = (c > 0) - (c < 0);
        return sign * c < 0;
    });
}

}  // namespace varnel
