#include "MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace tova {

namespace {
// A Chinese UI face, so that Chinese text does not fall back to whichever CJK face happens to
// be installed first.
const QString kWindowFontFamily = QStringLiteral("WenQuanYi Micro Hei");
constexpr int kWindowFontPoints = 9;
} // namespace

void useWindowFont() {
    QFont windowFont(kWindowFontFamily);
    windowFont.setPointSize(kWindowFontPoints);
    if (QApplication::font() != windowFont) QApplication::setFont(windowFont);
}

int QtMessageBoxes::show(QWidget* parent, const QString& prompt, int style, const QString& title)
{
    QMessageBox box(parent);
    box.setWindowTitle(title);
    box.setTextFormat(Qt::PlainText);
    box.setText(prompt);
    switch (style & 0xF0) {
    case vbQuestion: box.setIcon(QMessageBox::Question); break;
    case vbCritical: box.setIcon(QMessageBox::Critical); break;
    case vbExclamation: box.setIcon(QMessageBox::Warning); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }
    if ((style & 0x0F) == vbYesNoCancel) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return vbYes;
    case QMessageBox::No: return vbNo;
    case QMessageBox::Cancel: return vbCancel;
    default: return vbOK;
    }
}

} // namespace tova
