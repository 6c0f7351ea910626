#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace varnel {

class ProgramRunWindow;
class SessionMonitorPage;

// The session menu's commands on one connection's remote address:
// - NSLOOKUP: the reverse answer (the address's name) and then the forward answer (that name's
//   addresses) as lines at the top of the LOG View pane, which is shown for them. The lookups run
//   on Qt's resolver threads; the window never waits for them.
// - WHOIS, PING, TRACERT: `whois <address>`, `ping -c 4 <address>`, `tracepath <address>`, started
//   directly (no shell) in a ProgramRunWindow. A program that is not installed gives the reason
//   (MissingReason) and its entry is disabled.
// - "Add to Packet filter rules": shows the rule line `IP2=<address>`, asks, appends it to the rule
//   file through RuleFileWriter (the whole file replaced atomically) and reloads the rules.
//
// Borrows the page, which owns this object through its menu. GUI thread only.
class SessionToolCommands : public QObject {
    Q_OBJECT

  public:
    explicit SessionToolCommands(SessionMonitorPage& page);

    // The program and the arguments of a tool command (SessionContextMenu::kWhois, kPing, kTracert).
    static QString ProgramFor(int command);
    static QStringList ArgumentsFor(int command, const QString& address);
    // Empty when the command's program is found in PATH; otherwise why the entry is disabled.
    QString MissingReason(int command) const;
    // Opens the tool's window and starts the program; nullptr (after a warning) when it is missing.
    ProgramRunWindow* RunTool(int command, const QString& address);

    // Starts the lookups; the answers arrive in the pane later (lookupDone after the last one).
    void NsLookup(const QString& address);

    // "IP2=<address>".
    static QString RuleLineFor(const QString& address);
    // Asks, then appends the rule line and reloads the rules. False when declined or when the rule
    // file could not be written (told in a warning).
    bool AddPacketFilterRule(const QString& address);

  signals:
    void lookupDone();

  private:
    void PaneLine(const QString& line);

    SessionMonitorPage& page_;
};

}  // namespace varnel
