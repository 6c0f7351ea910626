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
#include "autokill/RefusalSummary.h"
#include "display/SelectionKeeper.h"
#include "display/SessionListModel.h"
#include "monitor/SessionMonitorPage.h"
#include "monitor/SessionToolCommands.h"
#include "settings/SettingsKeys.h"

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

    for (int c = 0; c < kColumnCount; ++c) {
        auto* choose = new QAction(list);
        choose->setShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_1 + c)));
        choose->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(choose, &QAction::triggered, this, [this, c] { SetCopyColumn(c); });
        list->addAction(choose);
    }
    tools_ = new SessionToolCommands(page_);
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
            return japanese ? QString("自動切断のルールに追加(&P)") : QString("Add to Packet filter rules(&P)");
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
        return QString("%1\tCtrl+%2")
            .arg(japanese ? QString::fromUtf8(ColumnTitle(column, UiLanguage::Japanese())) : QString(kCopyItems[column]))
            .arg(column + 1);
    return {};
}

int SessionContextMenu::copyColumn() const {
    return page_.settings().Read(SettingsKeys::kCopyColumn);
}

void SessionContextMenu::SetCopyColumn(int column) {
    if (column < 0 || column >= kColumnCount) return;
    page_.settingsForWrite().Write(SettingsKeys::kCopyColumn, column);
}

std::unique_ptr<QMenu> SessionContextMenu::CreateMenu(QWidget* parent) const {
    const bool japanese = page_.language().IsJapanese();
    auto menu = std::make_unique<QMenu>(parent);
    menu->setToolTipsVisible(true);
    auto add = [japanese](QMenu* into, int command) {
        QAction* action = into->addAction(ItemText(command, japanese));
        action->setData(command);
        return action;
    };
    const bool empty = page_.monitor().listCount() == 0;
    const bool anySelected = !empty && !SelectedRowsInOrder(page_).empty();

    QAction* remove = add(menu.get(), kRemoveAllItems);
    QAction* copy = add(menu.get(), kClipboardCopy);
    QMenu* items = menu->addMenu(japanese ? QString("コピーする項目を選択") : QString("Select Copy items"));
    const int chosen = copyColumn();
    for (int c = 0; c < kColumnCount; ++c) {
        QAction* item = add(items, kFirstCopyItem + c);
        item->setCheckable(true);
        item->setChecked(c == chosen);
    }
    menu->addSeparator();
    QAction* filter = add(menu.get(), kAddToPacketFilter);
    QAction* kill = add(menu.get(), kKillSession);
    menu->addSeparator();
    QAction* nslookup = add(menu.get(), kNslookup);
    for (int command : {kWhois, kPing, kTracert}) {
        QAction* tool = add(menu.get(), command);
        const QString missing = tools_->MissingReason(command);
        tool->setEnabled(anySelected && missing.isEmpty());
        if (!missing.isEmpty()) tool->setToolTip(missing);
    }

    menu->addSeparator();
    QAction* ipv6 = add(menu.get(), kShowIpv6);
    ipv6->setCheckable(true);
    ipv6->setChecked(page_.showIpv6());

    remove->setEnabled(!empty);
    for (QAction* a : {copy, kill, filter, nslookup}) a->setEnabled(anySelected);
    return menu;
}

void SessionContextMenu::OnContextMenu(const QPoint& globalPos) {
    std::unique_ptr<QMenu> menu = CreateMenu(page_.window());
    QAction* chosen = menu->exec(globalPos);
    if (chosen != nullptr && chosen->isEnabled()) Run(chosen->data().toInt());
}

QString SessionContextMenu::SelectedRemoteAddress() const {
    const std::vector<int> rows = SelectedRowsInOrder(page_);
    if (rows.empty()) return {};
    return QString::fromUtf8(page_.monitor().Row(rows.front())[kColRemoteAddress]);
}

void SessionContextMenu::Run(int command) {
    switch (command) {
        case kRemoveAllItems:
            RemoveAllItems();
            return;
        case kClipboardCopy:
            CopySelectedHosts();
            return;
        case kKillSession:
            KillSelectedSessions();
            return;
        case kShowIpv6:
            page_.SetShowIpv6(!page_.showIpv6());
            return;
        case kAddToPacketFilter:
            if (const QString address = SelectedRemoteAddress(); !address.isEmpty())
                tools_->AddPacketFilterRule(address);
            return;
        case kNslookup:
            if (const QString address = SelectedRemoteAddress(); !address.isEmpty()) tools_->NsLookup(address);
            return;
        case kWhois:
        case kPing:
        case kTracert:
            if (const QString address = SelectedRemoteAddress(); !address.isEmpty())
                tools_->RunTool(command, address);
            return;
        default:
            break;
    }
    SetCopyColumn(command - kFirstCopyItem);
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
    const int column = copyColumn();
    for (int row : rows) {
        text += QString::fromUtf8(page_.monitor().Row(row)[column]);
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
                           AutoKill::TupleText(texts) + " " + texts[kColProcess] + ": " +
                           RefusalSummary::ReasonText(result, page_.language());
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
