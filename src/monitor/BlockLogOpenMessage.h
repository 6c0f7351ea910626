#pragma once

#include <QString>
#include <QStringList>

#include "settings/UiLanguage.h"

namespace varnel {

// What the LOG button tells when the block log could not be opened: the file's path and why, in
// the language in force. Plain text for a message box. Any thread.
class BlockLogOpenMessage {
  public:
    // There is no file at `path` yet: the block log makes it with its first line.
    static QString NoFile(const QString& path, const UiLanguage& lang);
    // `program` with `arguments` could not be started to open `path` (not installed, not
    // executable). Names the command that was tried; for the desktop's opener, also where it
    // comes from and the setting that names another program.
    static QString NotStarted(const QString& path, const QString& program, const QStringList& arguments,
                              const UiLanguage& lang);
    // The command as a person would type it: words with blanks, quotes or nothing in them are
    // put in double quotes.
    static QString CommandLine(const QString& program, const QStringList& arguments);

    static constexpr const char* kDesktopOpener = "xdg-open";
};

}  // namespace varnel
