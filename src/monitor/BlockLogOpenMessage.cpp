#include "monitor/BlockLogOpenMessage.h"

namespace varnel {

QString BlockLogOpenMessage::NoFile(const QString& path, const UiLanguage& lang) {
    return QString::fromUtf8(lang.Pick("ログファイルはまだありません:\n%1\n\n"
                                       "自動切断ログが有効なとき、最初の自動切断で作られます。",
                                       "The log file does not exist yet:\n%1\n\n"
                                       "It is made by the first connection auto kill cuts while the log is on."))
        .arg(path);
}

QString BlockLogOpenMessage::NotStarted(const QString& path, const QString& program, const QStringList& arguments,
                                        const UiLanguage& lang) {
    QString text = QString::fromUtf8(lang.Pick("ログファイルを開けませんでした:\n%1\n\n"
                                               "開くためのプログラムを起動できませんでした。\n試したコマンド: %2",
                                               "Could not open the log file:\n%1\n\n"
                                               "No program could be started to open it.\nCommand tried: %2"))
                       .arg(path, CommandLine(program, arguments));
    if (program == QLatin1String(kDesktopOpener))
        text += QString::fromUtf8(lang.Pick("\n\nxdg-open は xdg-utils パッケージに含まれます。"
                                            "別のプログラムで開くには、設定ファイルの LogViewer に指定してください。",
                                            "\n\nxdg-open comes with the package xdg-utils. To open the log with "
                                            "another program, name it in LogViewer in the settings file."));
    return text;
}

QString BlockLogOpenMessage::CommandLine(const QString& program, const QStringList& arguments) {
    const auto word = [](QString text) {
        const bool quote = text.isEmpty() || text.contains(QLatin1Char(' ')) || text.contains(QLatin1Char('\t')) ||
                           text.contains(QLatin1Char('"'));
        if (!quote) return text;
        return QLatin1Char('"') + text.replace(QLatin1Char('"'), QLatin1String("\\\"")) + QLatin1Char('"');
    };
    QString line = word(program);
    for (const QString& argument : arguments) line += QLatin1Char(' ') + word(argument);
    return line;
}

}  // namespace varnel
