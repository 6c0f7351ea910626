#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/UiLanguage.h"
#include "session/SessionRecord.h"

namespace varnel {

// The nine columns of the session list, in order.
enum SessionColumn : int {
    kColLocalAddress = 0,
    kColLocalHost,
    kColLocalPort,
    kColRemoteAddress,
    kColRemoteHost,
    kColRemotePort,
    kColStatus,
    kColTime,
    kColProcess,
    kColumnCount
};

// The nine texts one row of the session list shows, and the connection they show. The rule
// evaluation and the block log read these texts, not the record; a reset is aimed by `key`, never
// by reading the texts back (they may be cut to their column). Fixed buffers: building a row
// never allocates.
struct SessionRow {
    static constexpr int kTextSize = 128;
    char text[kColumnCount][kTextSize];
    ConnectionKey key;  // all zero in a row built from texts alone: it names no connection

    const char* operator[](int column) const { return text[column]; }
};

// Column titles, state names ("Connecting" for an established connection, "Waiting" for one being
// opened) and the age text ("59s", "01m 00s", "1h 00m 00s"; Japanese 時間 分 秒), by language.
const char* ColumnTitle(int column, const UiLanguage& lang);
const char* StateName(int state, const UiLanguage& lang);  // "" for codes outside 0..12
void FormatElapsed(uint32_t now, uint32_t firstSeen, const UiLanguage& lang, char* out, size_t outSize);

// Fills `row` from `record`. The process column is filled only when the table carries owners.
void BuildSessionRow(const SessionRecord& record, uint32_t now, bool processInfoAvailable,
                     const UiLanguage& lang, SessionRow& row);

}  // namespace varnel
