#pragma once

class QCoreApplication;

namespace tova {

// Qt's own texts (standard buttons, the file dialog) in Simplified Chinese whatever the locale,
// like the rest of the program; the locale still decides date and number formats.
void installChineseQtTexts(QCoreApplication& app);

} // namespace tova
