#include "monitor/SessionContextMenu.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "display/CListCtrlEx3.h"
#include "display/SelectionKeeper.h"
#include "display/SessionListModel.h"
#include "monitor/SessionMonitorPage.h"

namespace varnel {

namespace {

const char* const kCopyItems[kColumnCount] = {"IP Address1", "Hostname1", "Port1",
                                              "IP Address2", "Hostname2", "Port2",
                                              "Status",      "Time",      "ProcessName(PID)"};

// The list's selected rows that still show a row, top to bottom.
std::vector<int> SelectedRowsInOrder(SessionMonitorPage& page) {
    auto selected = page.list()->SelectedRows();
    std::vector<int> rows(selected.begin(), selected.end());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    const int count = page.monitor().listCount();
    rows.erase(std::remove_if(rows.begin(), rows.end(), [count](int r) { return r < 0 || r >= count; }),
               rows.end());
    return rows;
}

}  // namespace

std::string SessionContextMenu::ManualCutLine(const SessionRow& row, const std::tm& when, const UiLanguage& lang) {
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "[%04d/%02d/%02d %02d:%02d:%02d]", when.tm_year + 1900, when.tm_mon + 1,
                  when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
    std::string line = std::string(lang.Pick("手動切断 ", "KILLED BY HAND ")) + stamp + " " +
                       AutoKill::TupleText(row) + " " + row[kColProcess];
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

SessionContextMenu::SessionContextMenu(SessionMonitorPage& page) : page_(page) {
    CListCtrlEx3* list = page_.list();
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this,
            [this, list](const QPoint& pos) { OnContextMenu(list->viewport()->mapToGlobal(pos)); });

    copyShortcut_ = new QAction(list);
    copyShortcut_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    copyShortcut_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copyShortcut_, &QAction::triggered, this, [this] { CopySelectedHosts(); });
    list->addAction(copyShortcut_);

    killShortcut_ = new QAction(list);
    killShortcut_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    killShortcut_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(killShortcut_, &QAction::triggered, this, [this] { KillSelectedSessions(); });
    list->addAction(killShortcut_);
}

SessionContextMenu::~SessionContextMenu() = default;

QString SessionContextMenu::ItemText(int command, bool japanese) {
    switch (command) {
        case kRemoveAllItems:
            return japanese ? QString("すべての項目を削除(&R)") : QString("Remove all items(&R)");
        case kClipboardCopy:
            return japanese ? QString("クリップボードへコピー(&C)\tCtrl+C")
                            : QString("Clipboard Copy(&C)\tCtrl+C");
        case kKillSession:
            return japanese ? QString("セッションの強制切断(&K)\tCtrl+DEL")
                            : QString("Kill Session(&K)\tCtrl+DEL");
        case kAddToPacketFilter:
            return "Add to Packet filter rules(&P)";
        case kNslookup:
            return "NSLOOKUP(&N)";
        case kWhois:
            return "WHOIS(&W)";
        case kPing:
            return "PING(&G)";
        case kTracert:
            return "TRACERT(&T)";
        case kShowIpv6:
            return japanese ? QString("IPv6接続を表示") : QString("Show IPv6 connections");
        default:
            break;
    }
    const int column = command - kFirstCopyItem;
    if (column >= 0 && column < kColumnCount)
        return QString("%1\tCtrl+%2").arg(kCopyItems[column]).arg(column + 1);
    return {};
}

std::unique_ptr<QMenu> SessionContextMenu::CreateMenu(QWidget* parent) const {
    const bool japanese = page_.language().IsJapanese();
    auto menu = std::make_unique<QMenu>(parent);
    auto add = [&menu, japanese](QMenu* into, int command) {
        QAction* action = into->addAction(ItemText(command, japanese));
        action->setData(command);
        return action;
    };
    QAction* remove = add(menu.get(), kRemoveAllItems);
    QAction* copy = add(menu.get(), kClipboardCopy);
    QAction* kill = nullptr;
    if (japanese) {
        menu->addSeparator();
        kill = add(menu.get(), kKillSession);
    } else {
        QMenu* items = menu->addMenu("Select Copy items");
        for (int c = 0; c < kColumnCount; ++c) add(items, kFirstCopyItem + c);
        menu->addSeparator();
        add(menu.get(), kAddToPacketFilter);
        kill = add(menu.get(), kKillSession);
        menu->addSeparator();
        for (int command : {kNslookup, kWhois, kPing, kTracert}) add(menu.get(), command);
    }

    menu->addSeparator();
    QAction* ipv6 = add(menu.get(), kShowIpv6);
    ipv6->setCheckable(true);
    ipv6->setChecked(page_.showIpv6());

    const bool empty = page_.monitor().listCount() == 0;
    const bool anySelected = !empty && !SelectedRowsInOrder(page_).empty();
    remove->setEnabled(!empty);
    copy->setEnabled(anySelected);
    kill->setEnabled(anySelected);
    return menu;
}

void SessionContextMenu::OnContextMenu(const QPoint& globalPos) {
    std::unique_ptr<QMenu> menu = CreateMenu(page_.window());
    QAction* chosen = menu->exec(globalPos);
    if (chosen != nullptr && chosen->isEnabled()) Run(chosen->data().toInt());
}

void SessionContextMenu::Run(int command) {
    switch (command) {
        case kRemoveAllItems:
            RemoveAllItems();
            break;
        case kClipboardCopy:
            CopySelectedHosts();
            break;
        case kKillSession:
            KillSelectedSessions();
            break;
        case kShowIpv6:
            page_.SetShowIpv6(!page_.showIpv6());
            break;
        default:
            break;  // the entries without a handler
    }
}

void SessionContextMenu::RemoveAllItems() {
    page_.monitor().RemoveAllItems();
    page_.model().Refresh();
    page_.FlushHostNames();
    page_.UpdateLabels();
}

QString SessionContextMenu::CopySelectedHosts() {
    const std::vector<int> rows = SelectedRowsInOrder(page_);
    // Nothing selected is nothing to copy: what the clipboard holds stays.
    if (rows.empty()) return {};
    QString text;
    for (int row : rows) {
        text += QString::fromUtf8(page_.monitor().Row(row)[kColRemoteHost]);
        text += "\r\n";
    }
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(text);
    return text;
}

int SessionContextMenu::KillSelectedSessions() {
    QStringList failures;
    // The rows are taken first, each with the connection it shows (its key, which aims the reset;
    // the texts only name it in a report): preparing may wait for a password prompt while ticks go
    // on and the rows change under their indexes.
    // The highlight goes with the choice, so that repeating the command cuts nothing more.
    std::vector<SessionRow> chosen;
    for (int row : SelectedRowsInOrder(page_)) chosen.push_back(page_.monitor().Row(row));
    page_.selection().Clear();
    if (!chosen.empty()) page_.PrepareReset(true);
    int cut = 0;
    for (const SessionRow& texts : chosen) {
        ResetResult result = page_.autoKill().KillRow(texts);
        if (result.ok()) {
            page_.autoKill().blockLog().AddPaneLine(ManualCutLine(texts, page_.monitor().clock().LocalTime(),
                                                                  page_.language()));
            ++cut;
            continue;
        }
        if (result.status == ResetStatus::kNoSuchConnection) continue;
        std::string line = std::string(page_.language().Pick("切断できません ", "NOT KILLED ")) +
                           AutoKill::TupleText(texts) + " " + texts[kColProcess] + ": " + result.Describe();
        page_.autoKill().blockLog().AddPaneLine(line);
        failures << QString::fromStdString(line);
    }
    if (cut > 0 && failures.isEmpty()) page_.UpdateLabels();
    if (!failures.isEmpty()) {
        page_.UpdateLabels();
        page_.Warning(failures.join("\n"));
    }
    return static_cast<int>(failures.size());
}

}  // namespace varnel
