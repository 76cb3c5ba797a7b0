#include "ChineseQtTexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace tova {

void installChineseQtTexts(QCoreApplication& app) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char* catalog : {"qtbase_zh_CN", "qtmultimedia_zh_CN"}) {
        auto* translator = new QTranslator(&app);
        // Without the catalog (qt6-translations-l10n missing) Qt falls back to its English.
        if (translator->load(QLatin1String(catalog), folder))
            QCoreApplication::installTranslator(translator);
        else
            delete translator;
    }
}

} // namespace tova
