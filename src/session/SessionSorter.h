#pragma once

#include <cstdint>

#include "session/SessionTable.h"

namespace varnel {

// Orders the shown rows by one of the nine columns through fixed-width text keys (numbers
// zero-padded, texts blank-padded), compared as a person reads them (CompareSortKeys).
//
// Each record's new key is its column key followed by its previous key (cut at 254 characters), so
// sorting the same records again lets the previous order decide between rows equal in the new
// column; a poll leaves every key empty, so a tick's sort uses the column key alone. Rows whose keys
// are equal are ordered by their four-tuple, so they do not trade places from tick to tick. Ages are
// zero-padded to ten digits, which holds any 32-bit millisecond age in numeric order.
//
// Address fields are blank-padded to 20 characters while every shown address is IPv4, and to 45
// (the longest IPv6 text) as soon as one row shows an IPv6 address, so that the fields of all rows
// line up. Every dotted text fits either width, so IPv4 rows keep their order; the narrow width
// keeps more of the chained previous keys, as when the table had no IPv6 rows.
//
// Tick's thread only.
class SessionSorter {
public:
    static constexpr int kDefaultColumn = 6;  // Status
    static constexpr int kMaxKeyLength = 254;
    static constexpr int kIpv4AddressWidth = 20;
    static constexpr int kIpv6AddressWidth = 45;

    int sortColumn() const { return sortColumn_; }
    bool sortDescending() const { return sortDescending_; }

    // A header click: the same column flips the direction, another column keeps it.
    void OnColumnClick(int column);

    // Rebuilds table.displayOrder for table.rowCount records, by `sortColumn()`. `now` is the
    // tick the ages are measured at.
    void SortSessions(SessionTable& table, uint32_t now) const;

    // The column key of one record (without the chained previous key), for tests and benches.
    static int FormatColumnKey(const SessionRecord& r, int column, uint32_t now, char* out, int outSize,
                               int addressWidth = kIpv4AddressWidth);
    // The address width of the table's shown records, as above.
    static int AddressWidth(const SessionTable& table);

private:
    int sortColumn_ = kDefaultColumn;
    bool sortDescending_ = true;
};

}  // namespace varnel
