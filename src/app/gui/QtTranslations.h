#pragma once

#include "settings/UiLanguage.h"

class QCoreApplication;

namespace varnel {

// Qt's own texts (the standard buttons "Yes", "No", "Cancel", the file and colour dialogs) in the
// language in force: for Japanese the system's qtbase_ja translation (package
// qt6-translations-l10n) from Qt's translations folder is installed on the application. English
// needs nothing. Without the file Qt's English texts stay; nothing else depends on it.
class QtTranslations {
  public:
    // Returns whether a translation was installed. The translator is owned by `app`.
    static bool Install(QCoreApplication& app, const UiLanguage& lang);
};

}  // namespace varnel
