#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "app/core/SettingsFile.h"
#include "platform/Clock.h"
#include "session/SessionRow.h"

namespace varnel {

// The block log: one text line per connection the auto-kill pass cut, appended to a file whose
// name is a date template (one file a month by default) and put at the top of the log pane.
//
// The file name, the line template and the folder come from the settings file. They are
// recomputed by RefreshSettings (every rule load and auto-kill toggle) and by a write whose local
// hour differs from the last write's, so a month's file changes at most once per clock hour.
// Placeholders are substituted in the template only: a host name that happens to contain
// "$PORT1$" is written as it is. Control characters in the row's texts become spaces, so a kill
// is always exactly one line. A line is at most 4,095 bytes with its line feed (cut at a character
// boundary); it ends in CR LF in the file.
//
// A file that cannot be opened loses the line silently; the pane still gets it. The file is opened
// and closed for every line. Threads: the tick's thread only.
class BlockLog {
public:
    static constexpr const char* kDefaultNameTemplate = "dunmoth_autoblock$YYYY$$MM$.log";
    static constexpr const char* kDefaultLineTemplate =
        "BLOCKED [$DATE$ $TIME$] $HOST1$:$PORT1$ $HOST2$:$PORT2$ $PID$";
    static constexpr size_t kMaxLineBytes = 4095;
    static constexpr size_t kPaneLines = 300;

    // `defaultFolder`: where the file goes when "LogRootFolder" is not an absolute path.
    BlockLog(const SettingsFile& settings, std::string defaultFolder, Clock& clock);

    // Recomputes the file path and reads the line template and the folder.
    void RefreshSettings();

    // The block-log switch: 1 writes the file, 0 feeds only the pane.
    void SetEnabled(bool on) { enabled_ = on; }
    bool enabled() const { return enabled_; }

    // Writes the line for a killed connection's row. `processInfoAvailable` false makes $PID$
    // empty. `ruleNumber` is the 1-based number of the matching rule ($RULE$). Returns the line
    // (without line end) as it was written.
    std::string Write(const SessionRow& row, bool processInfoAvailable, int ruleNumber);

    // Puts a line at the top of the pane (used for kills and for reports of failed resets).
    void AddPaneLine(std::string_view line);
    // Empties the pane (the "Auto Kill Session" switch changed).
    void ClearPane() { pane_.clear(); }

    // Called with every block line as it is written, whether or not the file takes it (headless
    // mode prints them).
    void SetLineListener(std::function<void(const std::string&)> listener) { listener_ = std::move(listener); }

    const std::string& path() const { return path_; }
    const std::string& lineTemplate() const { return lineTemplate_; }
    // The pane's text, newest line first, lines separated by "\n".
    std::string PaneText() const;
    const std::deque<std::string>& paneLines() const { return pane_; }

private:
    std::string FormatLine(const SessionRow& row, bool processInfoAvailable, int ruleNumber, const std::tm& now) const;
    void AppendToFile(const std::string& line);

    const SettingsFile& settings_;
    std::string defaultFolder_;
    Clock& clock_;
    bool enabled_ = true;
    std::string path_;
    std::string lineTemplate_ = kDefaultLineTemplate;
    int lastHour_ = -1;  // hour of the last write that recomputed the path; none at start
    std::deque<std::string> pane_;
    std::function<void(const std::string&)> listener_;
};

}  // namespace varnel
