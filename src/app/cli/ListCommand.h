#pragma once

#include <ostream>

#include "platform/Clock.h"
#include "report/ConnectionListFormatter.h"
#include "platform/ConnectionTable.h"
#include "platform/ProcessList.h"
#include "session/HostNameSource.h"
#include "session/SessionMonitor.h"
#include "settings/UiLanguage.h"

namespace varnel {

// `varnel --list`: one snapshot printed as the session list. The first line holds the nine column
// titles of the language, then one line per shown row in display order (Status, descending), the
// nine column texts separated by single TABs (the ninth empty when the table gives no owners).
// Every control character inside a text (a host name or a process name can hold anything: TABs,
// line breaks, a terminal's escape sequences) is printed as a space (PrintableLine), so each row
// stays one line of nine fields and cannot drive the terminal. With SetFormat(kJson or kCsv) the
// same connections are printed for a program instead (ConnectionListFormatter).
//
// The list shows at most 599 rows; with `SetAll(true)` every other connection the poll kept
// follows them, in table order, with the texts it would show: first those the list has no room
// for, then the half-closed ones (which auto kill judges as established), with their own state
// ("FIN WAIT1", "FIN WAIT2", "CLOSE WAIT"). IPv6 connections are listed only with `SetIpv6(true)`.
//
// With a host-name source, a first poll starts the lookups and the list is taken once they have
// had up to `resolveWaitMs` to finish; names still unknown then show as "(address)".
class ListCommand {
  public:
    ListCommand(ConnectionTable& table, ProcessList& processes, Clock& clock, UiLanguage lang)
        : table_(table), processes_(processes), clock_(clock), lang_(std::move(lang)) {}

    void SetHostNameSource(HostNameSource* source, int resolveWaitMs) {
        hostNames_ = source;
        resolveWaitMs_ = resolveWaitMs;
    }

    void SetAll(bool all) { all_ = all; }
    // `--ipv6`: IPv6 connections are listed too, as the window shows them with ShowIPv6 on.
    void SetIpv6(bool on) { ipv6_ = on; }
    // `--format`: json and csv print the connections for a program (ConnectionListFormatter).
    void SetFormat(OutputFormat format) { format_ = format; }

    // Returns the exit code: 0, or 1 when the connection table cannot be read; that is said on
    // `err` and nothing goes to `out` (an unreadable table is no empty one).
    int Run(std::ostream& out, std::ostream& err);

  private:
    bool AnyPending(SessionMonitor& monitor);

    ConnectionTable& table_;
    ProcessList& processes_;
    Clock& clock_;
    UiLanguage lang_;
    HostNameSource* hostNames_ = nullptr;
    int resolveWaitMs_ = 0;
    bool all_ = false;
    bool ipv6_ = false;
    OutputFormat format_ = OutputFormat::kText;
};

}  // namespace varnel
