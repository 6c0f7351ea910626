#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "autokill/RuleEvaluator.h"
#include "session/SessionRow.h"
#include "settings/SettingsFile.h"
#include "settings/UiLanguage.h"

namespace varnel {

// The block log: one text line per connection the auto-kill pass cut, appended to a file whose
// name is a date template (one file a month by default) and put at the top of the log pane.
//
// The file name, the line template and the folder come from the settings file. They are
// recomputed by RefreshSettings (every rule load and auto-kill toggle) and by a write whose local
// hour or date differs from those of the last write that recomputed it: two writes in one clock
// hour of one day share a name, and a write on a new day never goes to an old month's file.
// Placeholders are substituted in the template only: a host name that happens to contain
// "$PORT1$" is written as it is. Control characters (PrintableLine) in the template and the row's
// texts become spaces, so a kill is always exactly one line and sends no escape sequence to
// whoever views the file. A line is at most 4,095 bytes with its line feed (cut at a character
// boundary); it ends in CR LF in the file.
//
// The name template is outside input and the program may run as root in a folder that others
// can write, so the file is opened the careful way: the log folder must belong to this user or
// root, and when it is a symbolic link, so must the link (one level is followed; a link someone
// else planted is refused); the name must stay inside it (no absolute name, no ".." component),
// every folder of the name below the log folder and the file itself are opened without following
// symbolic links, and only a regular file is written (opened without blocking, so a FIFO planted
// under the name cannot hang the tick). A new file gets mode 0640 (less what the umask takes). A write that stops part way through a line (a full
// file system, a size limit) is taken back, so the file holds whole lines only.
//
// A line the file does not take (folder missing, name refused, no rights, write error) still goes
// to the pane. The failure is reported, with the path and the reason, as a pane line and to the
// failure listener: once, and again only after a write has worked in between, so a broken log
// costs one message, not one per kill. The file is opened and closed for every line.
// Threads: the tick's thread only.
class BlockLog {
  public:
    static constexpr const char* kDefaultNameTemplate = SettingsKeys::kAutoBlockLogFileName.defaultText;
    static constexpr const char* kDefaultLineTemplate = SettingsKeys::kAutoBlockLogFormat.defaultText;
    static constexpr size_t kMaxLineBytes = 4095;
    static constexpr size_t kPaneLines = 300;

    // `defaultFolder`: where the file goes when "LogRootFolder" is not an absolute path. `lang`
    // picks the language of the failure reports.
    BlockLog(const SettingsFile& settings, std::string defaultFolder, Clock& clock,
             UiLanguage lang = UiLanguage::English());

    // Recomputes the file path and reads the line template and the folder.
    void RefreshSettings();

    // The block-log switch: 1 writes the file, 0 feeds only the pane.
    void SetEnabled(bool on) { enabled_ = on; }
    bool enabled() const { return enabled_; }

    // Writes the line for a killed connection's row. `processInfoAvailable` false makes $PID$
    // empty. `ruleNumber` is the 1-based number of the matching rule ($RULE$). Returns the line
    // (without line end) as it was written.
    std::string Write(const SessionRow& row, bool processInfoAvailable, int ruleNumber);
    // The same from the texts the rules read (whole host names).
    std::string Write(const RowTexts& texts, bool processInfoAvailable, int ruleNumber);

    // Puts a line at the top of the pane (used for kills and for reports of failed resets). Control
    // characters become spaces (PrintableLine).
    void AddPaneLine(std::string_view line);
    // Empties the pane (the "Auto Kill Session" switch changed).
    void ClearPane() { pane_.clear(); }

    // Called with every block line as it is written, whether or not the file takes it (headless
    // mode prints them).
    void SetLineListener(std::function<void(const std::string&)> listener) {
        listener_ = std::move(listener);
    }
    // Called with the report of a write the file did not take, when it is reported (see above). The
    // text is one printable line.
    void SetFailureListener(std::function<void(const std::string&)> listener) {
        failureListener_ = std::move(listener);
    }

    const std::string& path() const { return path_; }
    const std::string& lineTemplate() const { return lineTemplate_; }
    // Why the file name is refused (it would leave the log folder), or empty.
    const std::string& nameError() const { return nameError_; }
    // The pane's text, newest line first, lines separated by "\n".
    std::string PaneText() const;
    const std::deque<std::string>& paneLines() const { return pane_; }

  private:
    std::string FormatLine(const RowTexts& row, bool processInfoAvailable, int ruleNumber,
                           const std::tm& now) const;
    void AppendToFile(const std::string& line);
    // Appends `text` to the file; the reason when it could not, else empty.
    std::string WriteToFile(const std::string& text) const;
    // The log folder opened for openat, or -1 with `why` set.
    int OpenFolder(std::string& why) const;

    const SettingsFile& settings_;
    std::string defaultFolder_;
    Clock& clock_;
    UiLanguage lang_;
    bool enabled_ = true;
    std::string folder_;  // the log folder, ending in '/'
    std::string name_;    // the file name below it: the template with its placeholders replaced
    std::string nameError_;
    std::string path_;
    std::string lineTemplate_ = kDefaultLineTemplate;
    int lastHour_ = -1;  // hour of the last write that recomputed the path; none at start
    int lastDate_ = -1;  // its date, (year * 100 + month) * 100 + day
    std::deque<std::string> pane_;
    std::function<void(const std::string&)> listener_;
    std::function<void(const std::string&)> failureListener_;
    bool failureReported_ = false;  // since the last write the file took
};

}  // namespace varnel
