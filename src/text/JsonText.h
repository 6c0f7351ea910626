#pragma once

#include <string>
#include <string_view>

namespace varnel {

// Appends `text` to `out` as a JSON string literal, quotes included. Quote, backslash and every
// control character (C0 and DEL) are escaped, so a JSON line stays one line whatever a host or
// process name holds. Bytes that are no valid UTF-8 become U+FFFD: a JSON reader must get UTF-8,
// and a process name on Linux may be any bytes.
void AppendJsonString(std::string& out, std::string_view text);

// Appends `text` as one RFC 4180 field: quoted when it holds a comma, a quote or a line break
// (quotes doubled). Other control characters become spaces, as on the terminal (PrintableLine).
void AppendCsvField(std::string& out, std::string_view text);

}  // namespace varnel
