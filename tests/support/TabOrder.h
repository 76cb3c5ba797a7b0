#pragma once

#include <QApplication>
#include <QTest>

namespace tova::test {

// Focuses the first widget, then presses Tab and expects focus on each of the next in turn.
inline void verifyTabOrder(std::initializer_list<QWidget*> order) {
    QVERIFY(QTest::qWaitForWindowActive((*order.begin())->window()));
    (*order.begin())->setFocus(Qt::TabFocusReason);
    for (QWidget* expected : order) {
        QWidget* focused = QApplication::focusWidget();
        QVERIFY2(focused && (focused == expected || expected->isAncestorOf(focused)),
                 qPrintable(expected->objectName() + " not focused"));
        QTest::keyClick(focused, Qt::Key_Tab);
    }
}

} // namespace tova::test
