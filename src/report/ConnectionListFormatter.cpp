#include "report/ConnectionListFormatter.h"

#include "platform/TcpRow.h"
#include "text/AsciiCase.h"
#include "text/FixedText.h"
#include "text/JsonText.h"

namespace varnel {

namespace {

constexpr const char* kKeys[] = {"local_address", "local_host", "local_port", "remote_address", "remote_host",
                                 "remote_port",   "family",     "state",      "age_seconds",    "process",
                                 "pid"};

// The host name a cell shows when it is one: not the address itself (no name, or resolution off)
// and not "(address)" (being looked up).
bool KnownHost(std::string_view host, std::string_view address) {
    return !host.empty() && host != address && !(host.front() == '(' && host.back() == ')');
}

}  // namespace

bool ParseOutputFormat(std::string_view name, OutputFormat& format) {
    if (EqualsIgnoringAsciiCase(name, "text"))
        format = OutputFormat::kText;
    else if (EqualsIgnoringAsciiCase(name, "json"))
        format = OutputFormat::kJson;
    else if (EqualsIgnoringAsciiCase(name, "csv"))
        format = OutputFormat::kCsv;
    else
        return false;
    return true;
}

const char* ConnectionListFormatter::StateCode(int32_t state) {
    static constexpr const char* kNames[] = {"",           "CLOSED",     "LISTEN",    "SYN_SENT", "SYN_RECV",
                                             "ESTABLISHED", "FIN_WAIT1", "FIN_WAIT2", "CLOSE_WAIT", "CLOSING",
                                             "LAST_ACK",   "TIME_WAIT",  "DELETE_TCB"};
    return state >= 1 && state <= 12 ? kNames[state] : "";
}

void ConnectionListFormatter::AppendHeader(std::string& out) const {
    switch (format_) {
        case OutputFormat::kText:
            for (int c = 0; c < kColumnCount; ++c) {
                if (c) out.push_back('\t');
                out += ColumnTitle(c, lang_);
            }
            out.push_back('\n');
            break;
        case OutputFormat::kCsv:
            for (const char* key : kKeys) {
                if (key != kKeys[0]) out.push_back(',');
                out += key;
            }
            out += "\r\n";
            break;
        case OutputFormat::kJson:
            break;
    }
}

void ConnectionListFormatter::AppendRow(const SessionRecord& record, const SessionRow& row, uint32_t now,
                                        std::string& out) const {
    if (format_ == OutputFormat::kText) {
        for (int c = 0; c < kColumnCount; ++c) {
            if (c) out.push_back('\t');
            out += PrintableLine(row[c]);
        }
        out.push_back('\n');
        return;
    }
    std::string_view process;
    uint32_t pid = 0;
    SplitProcessText(row[kColProcess], process, pid);
    const bool owned = row[kColProcess][0] != '\0';
    const uint32_t age = record.firstSeen != 0 && now >= record.firstSeen ? (now - record.firstSeen) / 1000 : 0;
    // Each value as text, and whether it is a number (json leaves those unquoted) or absent.
    struct Value {
        std::string text;
        bool number = false;
        bool absent = false;
    };
    auto host = [](const char* h, const char* a) {
        return KnownHost(h, a) ? Value{h} : Value{"", false, true};
    };
    const Value values[] = {
        {record.localAddress},
        host(row[kColLocalHost], record.localAddress),
        {std::to_string(record.localPort), true},
        {record.remoteAddress},
        host(row[kColRemoteHost], record.remoteAddress),
        {std::to_string(record.remotePort), true},
        {record.key.v6 ? "ipv6" : "ipv4"},
        {StateCode(record.state)},
        {std::to_string(age), true},
        owned ? Value{std::string(process)} : Value{"", false, true},
        owned && pid != 0 ? Value{std::to_string(pid), true} : Value{"", true, true},
    };
    if (format_ == OutputFormat::kCsv) {
        for (size_t i = 0; i < std::size(values); ++i) {
            if (i) out.push_back(',');
            AppendCsvField(out, values[i].text);
        }
        out += "\r\n";
        return;
    }
    out.push_back('{');
    for (size_t i = 0; i < std::size(values); ++i) {
        if (i) out.push_back(',');
        AppendJsonString(out, kKeys[i]);
        out.push_back(':');
        if (values[i].absent)
            out += "null";
        else if (values[i].number)
            out += values[i].text;
        else
            AppendJsonString(out, values[i].text);
    }
    out += "}\n";
}

}  // namespace varnel
