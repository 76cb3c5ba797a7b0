#include "ChineseQtTexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace tova {

void installChineseQtTexts(QCoreApplication& app) {
    // Qt's own texts are all in qtbase: the sound goes through libpulse, not Qt Multimedia.
    auto* translator = new QTranslator(&app);
    // Without the catalog (qt6-translations-l10n missing) Qt falls back to its English.
    if (translator->load(QStringLiteral("qtbase_zh_CN"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace tova
