#pragma once

#include "Form.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>

namespace tova::test {

// Unloads every window a test left loaded and lets them go.
inline void unloadAllWindows() {
    FormRegistry::instance().unloadAll(vbFormCode);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace tova::test
