#pragma once

#include "Seam.h"

#include <QPoint>

class QUrl;

namespace tova {

// What the main window asks of the desktop: a browser for a web address, and where the mouse
// pointer is.
class Desktop {
public:
    virtual ~Desktop() = default;
    // Hands the address to the user's default browser; false when nothing took it.
    virtual bool openUrl(const QUrl& url) = 0;
    // Global position in logical pixels, negative left of or above the primary screen.
    virtual QPoint cursorPos() const = 0;
};

class QtDesktop : public Desktop {
public:
    bool openUrl(const QUrl& url) override;
    QPoint cursorPos() const override;
};

using DesktopSeam = Seam<Desktop, QtDesktop>;

} // namespace tova
