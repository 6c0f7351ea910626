#include "app/gui/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace varnel {

bool QtTranslations::Install(QCoreApplication& app, const UiLanguage& lang) {
    if (!lang.IsJapanese()) return false;
    auto* translator = new QTranslator(&app);
    if (!translator->load("qtbase_ja", QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

}  // namespace varnel
