#pragma once

#include "Form.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>

namespace tova::test {

inline QString textOf(const QWidget* control) {
    if (auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
    if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
    if (auto* edit = qobject_cast<const QLineEdit*>(control)) return edit->text();
    return {};
}

// Unloads every window a test left loaded and lets them go.
inline void unloadAllWindows() {
    FormRegistry::instance().unloadAll(vbFormCode);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace tova::test
