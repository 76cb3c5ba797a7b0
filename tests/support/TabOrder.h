#pragma once

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <initializer_list>

namespace tova::test {

// Focuses the first widget, then presses Tab and expects focus on each of the next in turn.
inline void verifyTabOrder(std::initializer_list<QWidget*> order) {
    QWidget* first = *order.begin();
    QVERIFY(QTest::qWaitForWindowActive(first->window()));
    first->setFocus(Qt::TabFocusReason);
    for (QWidget* expected : order) {
        QWidget* focused = QApplication::focusWidget();
        QVERIFY(focused);
        QVERIFY2(focused == expected || expected->isAncestorOf(focused),
                 qPrintable(focused->objectName() + " instead of " + expected->objectName()));
        QTest::keyClick(focused, Qt::Key_Tab);
    }
}

} // namespace tova::test
