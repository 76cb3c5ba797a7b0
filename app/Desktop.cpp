#include "Desktop.h"

#include <QCursor>
#include <QDesktopServices>
#include <QUrl>

namespace tova {

bool QtDesktop::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

QPoint QtDesktop::cursorPos() const {
    return QCursor::pos();
}

} // namespace tova
