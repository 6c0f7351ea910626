#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "session/ProcessText.h"
#include "session/SessionRecord.h"
#include "session/SessionRow.h"
#include "settings/UiLanguage.h"

namespace varnel {

// How `--list` and `--headless` print for a reader: `text` the session list's own texts (TABs,
// printable lines; the default), `json` one JSON object per line, `csv` RFC 4180 with a header row.
enum class OutputFormat { kText, kJson, kCsv };

// "text", "json" or "csv" (any case); false for anything else.
bool ParseOutputFormat(std::string_view name, OutputFormat& format);

// The connections of `varnel --list` in one of the formats. In json and csv every value is the
// connection's own, not the cell's look: ports and the age (whole seconds) as numbers, the family
// ("ipv4", "ipv6"), the state by its TCP name ("ESTABLISHED", "SYN_SENT", whatever the language),
// a host name only when one is known (JSON null, an empty CSV field, while it is being looked up
// or when there is none), the process name and PID apart (null when the table names no owner).
// Keys and columns: local_address local_host local_port remote_address remote_host remote_port
// family state age_seconds process pid.
class ConnectionListFormatter {
  public:
    ConnectionListFormatter(OutputFormat format, UiLanguage lang) : format_(format), lang_(std::move(lang)) {}

    // The title line (text), the header row (csv) or nothing (json).
    void AppendHeader(std::string& out) const;
    // One connection: its record and the row the list shows for it, at tick `now`.
    void AppendRow(const SessionRecord& record, const SessionRow& row, uint32_t now, std::string& out) const;

    // The TCP name of a state code ("" outside 1..12).
    static const char* StateCode(int32_t state);

  private:
    OutputFormat format_;
    UiLanguage lang_;
};

}  // namespace varnel
