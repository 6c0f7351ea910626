#pragma once

#include <functional>
#include <string>
#include <vector>

#include "autokill/MonitorEvent.h"

namespace varnel {

// `--headless` events into the systemd journal as structured entries, for the stream (standard
// output for cuts, standard error for the rest) that is the journal (JournalSender::Connected):
// MESSAGE is the line as the text output prints it ("varnel: " before the lines of standard
// error), PRIORITY the event's (MonitorEvent::Priority), SYSLOG_IDENTIFIER=varnel, VARNEL_EVENT its
// name, and those of VARNEL_RULE_LINE, VARNEL_LOCAL, VARNEL_REMOTE, VARNEL_HOST1, VARNEL_HOST2,
// VARNEL_PROCESS, VARNEL_PID, VARNEL_REASON that apply. An event for a stream that is not the
// journal, or one the journal did not take, goes to `fallback` as it would without the journal.
class JournalEventSink : public EventSink {
  public:
    using Send = std::function<bool(const std::vector<std::string>& fields)>;

    JournalEventSink(EventSink& fallback, bool outIsJournal, bool errIsJournal, Send send)
        : fallback_(fallback), out_(outIsJournal), err_(errIsJournal), send_(std::move(send)) {}

    void Tell(const MonitorEvent& event) override;
    static std::vector<std::string> Fields(const MonitorEvent& event);

  private:
    EventSink& fallback_;
    bool out_;
    bool err_;
    Send send_;
};

}  // namespace varnel
