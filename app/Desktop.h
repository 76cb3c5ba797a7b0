#pragma once

#include "Seam.h"

#include <QElapsedTimer>
#include <QPoint>

#include <memory>

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

class PointerMotion;

class QtDesktop : public Desktop {
public:
    QtDesktop();
    ~QtDesktop() override;
    bool openUrl(const QUrl& url) override;
    // Asks the window system only when the pointer has moved, or once a second for a pointer
    // that another program put somewhere else, which is no motion.
    QPoint cursorPos() const override;

private:
    const std::unique_ptr<PointerMotion> m_motion;
    mutable QPoint m_pos;
    mutable QElapsedTimer m_asked;
};

using DesktopSeam = Seam<Desktop, QtDesktop>;

} // namespace tova
