#include "session/SessionRow.h"

#include <cstdio>

#include "text/FixedText.h"

namespace varnel {

namespace {

const char* const kTitlesEn[kColumnCount] = {"IP Address1", "Hostname1", "Port1",  "IP Address2",     "Hostname2",
                                             "Port2",       "Status",    "Time",   "ProcessName(PID)"};
const char* const kTitlesJp[kColumnCount] = {"IPアドレス1", "ホスト1",   "ポート1",  "IPアドレス2",    "ホスト2",
                                             "ポート2",     "通信状態",  "通信時間", "イメージ名(PID)"};

const char* const kStatesEn[13] = {"",          "CLOSED",    "LISTEN",     "Waiting",  "Waiting",
                                   "Connecting", "FIN WAIT1", "FIN WAIT2",  "CLOSE WAIT", "CLOSING",
                                   "LAST ACK",   "TIME WAIT", "DELETE TCB"};
const char* const kStatesJp[13] = {"",       "CLOSED",    "LISTEN",     "接続待ち",   "接続待ち",
                                   "接続中", "FIN WAIT1", "FIN WAIT2",  "CLOSE WAIT", "CLOSING",
                                   "LAST ACK", "TIME WAIT", "DELETE TCB"};

}  // namespace

const char* ColumnTitle(int column, const UiLanguage& lang) {
    if (column < 0 || column >= kColumnCount) return "";
    return lang.IsJapanese() ? kTitlesJp[column] : kTitlesEn[column];
}

const char* StateName(int state, const UiLanguage& lang) {
    if (state < 0 || state > 12) return "";
    return lang.IsJapanese() ? kStatesJp[state] : kStatesEn[state];
}

void FormatElapsed(uint32_t now, uint32_t firstSeen, const UiLanguage& lang, char* out, size_t outSize) {
    const uint32_t ms = now - firstSeen;  // unsigned: a wrap of the tick counter still subtracts right
    const uint32_t s = ms / 1000;
    const uint32_t h = ms / 3600000;
    const char* hu = lang.Pick("時間", "h");
    const char* mu = lang.Pick("分", "m");
    const char* su = lang.Pick("秒", "s");
    if (h >= 1)
        std::snprintf(out, outSize, "%u%s %02u%s %02u%s", h, hu, (s / 60) % 60, mu, s % 60, su);
    else if (s / 60 >= 1)
        std::snprintf(out, outSize, "%02u%s %02u%s", (s / 60) % 60, mu, s % 60, su);
    else
        std::snprintf(out, outSize, "%02u%s", s % 60, su);
}

void BuildSessionRow(const SessionRecord& r, uint32_t now, bool processInfoAvailable, const UiLanguage& lang,
                     SessionRow& row) {
    constexpr size_t n = SessionRow::kTextSize;
    CopyFixedText(row.text[kColLocalAddress], n, r.localAddress);
    CopyFixedText(row.text[kColLocalHost], n, r.localHost);
    std::snprintf(row.text[kColLocalPort], n, "%d", r.localPort);
    CopyFixedText(row.text[kColRemoteAddress], n, r.remoteAddress);
    CopyFixedText(row.text[kColRemoteHost], n, r.remoteHost);
    std::snprintf(row.text[kColRemotePort], n, "%d", r.remotePort);
    CopyFixedText(row.text[kColStatus], n, StateName(r.state, lang));
    FormatElapsed(now, r.firstSeen, lang, row.text[kColTime], n);
    if (processInfoAvailable)
        CopyFixedText(row.text[kColProcess], n, r.processText);
    else
        row.text[kColProcess][0] = '\0';
    row.key = r.key;
}

}  // namespace varnel
