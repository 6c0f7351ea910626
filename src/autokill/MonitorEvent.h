#pragma once

#include <cstdint>
#include <string_view>

namespace varnel {

// One thing `--headless` tells: a cut, a reset that failed, a rule load and what it found, a
// connection table or block-log file that failed. `message` is the printable line as the text
// output has always printed it (without the "varnel: " of standard error); the other fields are
// the parts a program reads, empty (0) where they do not apply. The views are valid only during
// the call that passes the event.
struct MonitorEvent {
    enum class Kind { kBlocked, kNotBlocked, kRulesLoaded, kRuleError, kTableUnreadable, kLogWriteFailed };

    Kind kind = Kind::kBlocked;
    std::string_view message;  // empty: nothing to tell (a NOLOG cut, a failure summed up later)
    int ruleLine = 0;          // the rule's line in the rule file (blocked, not-blocked)
    std::string_view local;    // "address:port", an IPv6 address in brackets
    std::string_view remote;
    std::string_view host1;    // the host names the rules read (the address when none is known)
    std::string_view host2;
    std::string_view process;  // the executable's name, without the PID
    uint32_t pid = 0;          // 0: the table names no owner
    // A failed reset of one connection: why, as a short code ("permission-denied", "not-supported",
    // "refused", "failed"); null for everything else, also the summary of failures not told one by one.
    const char* reason = nullptr;

    // "blocked", "not-blocked", "rules-loaded", "rule-error", "table-unreadable", "log-write-failed".
    static const char* Name(Kind kind);
    // syslog priority: notice for a cut and a load, warning for a failed reset and a rule error,
    // error for a table or block log that failed.
    static int Priority(Kind kind);
    // Whether the text output puts it on standard output (cuts) or standard error (the rest).
    static bool OnStandardOutput(Kind kind) { return kind == Kind::kBlocked; }
};

// Where `--headless` tells its events: the terminal or a pipe as text or JSON lines, the journal.
class EventSink {
  public:
    virtual ~EventSink() = default;
    virtual void Tell(const MonitorEvent& event) = 0;
};

}  // namespace varnel
