#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "autokill/MonitorEvent.h"
#include "report/ConnectionListFormatter.h"

namespace varnel {

// `--headless` events on its standard streams. Text (the default): a cut's block-log line alone on
// `out`, everything else as "varnel: " and the line on `err`, as it has always been. JSON: every
// event as one JSON object per line on `out`: "event" (MonitorEvent::Name), "time" (Unix seconds),
// "message", and those of "rule_line", "local", "remote", "host1", "host2", "process", "pid",
// "reason" that apply. An event without a message is not told.
//
// When a write to `out` fails (the reader went away) the closed-output callback is called once and
// `out` is not written again. Not thread-safe: the tick's thread.
class StreamEventSink : public EventSink {
  public:
    StreamEventSink(OutputFormat format, std::ostream& out, std::ostream& err)
        : json_(format == OutputFormat::kJson), out_(out), err_(err) {}

    void SetOutputClosedCallback(std::function<void()> callback) { onOutClosed_ = std::move(callback); }
    void Tell(const MonitorEvent& event) override;
    bool outputClosed() const { return outClosed_; }

    // The JSON line of `event` (with its line feed), `unixSeconds` its time.
    static std::string JsonLine(const MonitorEvent& event, double unixSeconds);

  private:
    void PutOut(const std::string& line);

    bool json_;
    std::ostream& out_;
    std::ostream& err_;
    bool outClosed_ = false;
    std::function<void()> onOutClosed_;
};

}  // namespace varnel
