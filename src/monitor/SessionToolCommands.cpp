#include "monitor/SessionToolCommands.h"

#include <QCheckBox>
#include <QHostAddress>
#include <QHostInfo>
#include <QStandardPaths>
#include <string>

#include "autokill/RuleFileWriter.h"
#include "monitor/ProgramRunWindow.h"
#include "monitor/SessionContextMenu.h"
#include "monitor/SessionMonitorPage.h"
#include "text/FixedText.h"

namespace varnel {

SessionToolCommands::SessionToolCommands(SessionMonitorPage& page) : QObject(&page), page_(page) {}

QString SessionToolCommands::ProgramFor(int command) {
    switch (command) {
        case SessionContextMenu::kWhois:
            return "whois";
        case SessionContextMenu::kPing:
            return "ping";
        case SessionContextMenu::kTracert:
            return "tracepath";
        default:
            return {};
    }
}

QStringList SessionToolCommands::ArgumentsFor(int command, const QString& address) {
    if (command == SessionContextMenu::kPing) return {"-c", "4", address};
    return {address};
}

QString SessionToolCommands::MissingReason(int command) const {
    const QString program = ProgramFor(command);
    if (program.isEmpty() || !QStandardPaths::findExecutable(program).isEmpty()) return {};
    const QString package = command == SessionContextMenu::kWhois  ? "whois"
                            : command == SessionContextMenu::kPing ? "iputils-ping"
                                                                   : "iputils-tracepath";
    return page_.language().IsJapanese()
               ? QString("%1 がインストールされていません (パッケージ %2)").arg(program, package)
               : QString("%1 is not installed (package %2)").arg(program, package);
}

ProgramRunWindow* SessionToolCommands::RunTool(int command, const QString& address) {
    if (const QString why = MissingReason(command); !why.isEmpty()) {
        page_.Warning(why);
        return nullptr;
    }
    const QString program = ProgramFor(command);
    if (program.isEmpty() || QHostAddress(address).isNull()) return nullptr;
    auto* window =
        new ProgramRunWindow(program.toUpper() + " " + address, QStandardPaths::findExecutable(program),
                             ArgumentsFor(command, address), page_.language().IsJapanese(), page_.window());
    window->show();
    return window;
}

void SessionToolCommands::PaneLine(const QString& line) {
    page_.autoKill().blockLog().AddPaneLine(PrintableLine(line.toStdString()));
    if (!page_.logViewBox()->isChecked()) page_.logViewBox()->setChecked(true);
    page_.UpdateLabels();
}

void SessionToolCommands::NsLookup(const QString& address) {
    if (QHostAddress(address).isNull()) return;
    const bool japanese = page_.language().IsJapanese();
    // A literal address is looked up in reverse; its name is then looked up forward.
    QHostInfo::lookupHost(address, this, [this, address, japanese](const QHostInfo& reverse) {
        const QString name = reverse.hostName();
        if (reverse.error() != QHostInfo::NoError || name.isEmpty() || name == address) {
            PaneLine(QString("NSLOOKUP %1: %2")
                         .arg(address, japanese ? QString("名前がありません") : QString("no name")));
            emit lookupDone();
            return;
        }
        PaneLine(QString("NSLOOKUP %1: %2").arg(address, name));
        QHostInfo::lookupHost(name, this, [this, name, japanese](const QHostInfo& forward) {
            QStringList addresses;
            for (const QHostAddress& a : forward.addresses()) addresses << a.toString();
            if (addresses.isEmpty())
                PaneLine(QString("NSLOOKUP %1: %2")
                             .arg(name, japanese ? QString("アドレスがありません") : QString("no address")));
            else
                PaneLine(QString("NSLOOKUP %1: %2").arg(name, addresses.join(' ')));
            emit lookupDone();
        });
    });
}

QString SessionToolCommands::RuleLineFor(const QString& address) {
    return "IP2=" + address;
}

bool SessionToolCommands::AddPacketFilterRule(const QString& address) {
    if (QHostAddress(address).isNull()) return false;
    const bool japanese = page_.language().IsJapanese();
    const QString line = RuleLineFor(address);
    const QString question = japanese
                                 ? QString("自動切断のルールに次の行を追加しますか?\n\n%1").arg(line)
                                 : QString("Add this line to the Auto Kill Session rules?\n\n%1").arg(line);
    if (!page_.Ask(question)) return false;
    const std::string path = page_.autoKill().ruleFilePath();
    std::string text, error;
    bool ok = RuleFileWriter::Load(path, text, &error);
    if (ok) {
        if (!text.empty() && text.back() != '\n') text += '\n';
        text += line.toStdString();
        text += '\n';
        ok = RuleFileWriter::Save(path, text, &error);
    }
    if (!ok) {
        page_.Warning(
            (japanese ? QString("ルールを追加できません: %1") : QString("The rule was not added: %1"))
                .arg(QString::fromStdString(error)));
        return false;
    }
    page_.ReloadRules();
    return true;
}

}  // namespace varnel
