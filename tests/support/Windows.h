#pragma once

#include "Form.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace tova::test {

// Unloads every window a test left loaded and lets them go.
inline void unloadAllWindows() {
    FormRegistry::instance().unloadAll(vbFormCode);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The longest the event loop has gone without turning while this object lives: what a window
// that waits on something keeps its user from.
struct LoopGaps : QTimer {
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    LoopGaps() {
        clock.start();
        callOnTimeout([this] { longestMs(); });
        start(20);
    }
    qint64 longestMs() {
        longest = qMax(longest, clock.elapsed() - last);
        last = clock.elapsed();
        return longest;
    }
};

} // namespace tova::test
