#include "Desktop.h"

#include "PointerMotion.h"

#include <QCursor>
#include <QDesktopServices>
#include <QUrl>

namespace tova {

namespace {

constexpr std::chrono::milliseconds kPlacedRefresh{1000};

} // namespace

QtDesktop::QtDesktop()
    : m_motion(PointerMotion::watchX11()) {}

QtDesktop::~QtDesktop() = default;

bool QtDesktop::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

QPoint QtDesktop::cursorPos() const {
    // The first question always goes to the window system: a new watch reports motion.
    if (!m_motion || m_motion->movedSinceAsked() || m_asked.elapsed() >= kPlacedRefresh.count()) {
        m_pos = QCursor::pos();
        m_asked.start();
    }
    return m_pos;
}

} // namespace tova
