#pragma once

#include <QObject>
#include <QPoint>
#include <ctime>
#include <memory>
#include <string>

#include "session/SessionRow.h"
#include "settings/UiLanguage.h"

class QAction;
class QMenu;
class QWidget;

namespace varnel {

class SessionMonitorPage;
class SessionToolCommands;

// The session list's pop-up menu and its commands, in both languages: "Remove all items",
// "Clipboard Copy" (the selected rows' texts of the column chosen under "Select Copy items",
// Hostname2 at first; the choice is checked in the menu and kept in the settings), "Add to Packet
// filter rules", "Kill Session" (reset the selected connections now), NSLOOKUP, WHOIS, PING and
// TRACERT on the first selected row's remote address (SessionToolCommands; a tool whose program is
// missing is disabled with the reason as its tooltip) and, last, "Show IPv6 connections"
// (checked while the list shows them; always enabled).
//
// Ctrl+C and Ctrl+Delete on the list run the copy and the kill; Ctrl+1 .. Ctrl+9 choose the copy
// column.
//
// Borrows the page, which owns this object. GUI thread only.
class SessionContextMenu : public QObject {
    Q_OBJECT

  public:
    // Command ids of the menu entries, kept as each action's data.
    enum Command : int {
        kRemoveAllItems = 32783,
        kClipboardCopy = 32784,
        kAddToPacketFilter = 32821,
        kKillSession = 32833,
        kNslookup = 32816,
        kWhois = 32813,
        kPing = 32826,
        kTracert = 32827,
        kFirstCopyItem = 32854,  // "Select Copy items", one per column up to 32862
        kShowIpv6 = 32870,
    };

    explicit SessionContextMenu(SessionMonitorPage& page);
    ~SessionContextMenu() override;

    // The menu for the list's present state, with the enabling rules applied: an empty list
    // greys every command on rows; rows but no selection leaves only "Remove all items" (and the
    // copy-column choice); a selection enables them all. The caller owns the menu.
    std::unique_ptr<QMenu> CreateMenu(QWidget* parent) const;
    // Opens the menu at `globalPos` and runs the chosen command.
    void OnContextMenu(const QPoint& globalPos);
    // Runs the command of a chosen entry.
    void Run(int command);
    // The column "Clipboard Copy" takes (0..8); choosing writes the settings at once.
    int copyColumn() const;
    void SetCopyColumn(int column);
    SessionToolCommands& tools() { return *tools_; }

    // Empties the list, the host-name cache (under its lock) and the counters. The session table
    // stays, so a running monitor shows the same connections again at the next tick.
    void RemoveAllItems();
    // The selected rows' texts of the copy column, top to bottom, each followed by CR LF; the text
    // also goes to the clipboard. With no row selected the clipboard is left alone and the text is empty.
    QString CopySelectedHosts();
    // Resets the connections highlighted at the moment it is called, in list order, each by its
    // four-tuple as the row carries it (never read back from the texts), and takes the highlight
    // away, so repeating it cuts nothing more. Each connection cut is one pane line marked as cut by
    // hand (ManualCutLine); BLOCKED stays auto kill's count. A refused reset is written to the pane
    // and shown in one message box with the reason; a connection already gone is no failure.
    // Returns the number of failures.
    int KillSelectedSessions();
    // "KILLED BY HAND [2026/12/09 01:02:03] 10.0.0.1:45000 10.0.0.2:80 curl(77)" (Japanese 手動切断).
    static std::string ManualCutLine(const SessionRow& row, const std::tm& when, const UiLanguage& lang);

    static QString ItemText(int command, bool japanese);

  private:
    // The first selected row's "IP Address2"; empty without a selection.
    QString SelectedRemoteAddress() const;

    SessionMonitorPage& page_;
    SessionToolCommands* tools_ = nullptr;  // owned by the page (QObject parent)
    QAction* copyShortcut_ = nullptr;
    QAction* killShortcut_ = nullptr;
};

}  // namespace varnel
