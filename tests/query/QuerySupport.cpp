#include "QuerySupport.h"

#include "FileListBox.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>

namespace tova::test {

void useTemporaryFolderIn(const QTemporaryDir& dir) {
    const QString folder = dir.filePath(QStringLiteral("tmp"));
    QDir().mkpath(folder);
    qputenv("TMPDIR", QFile::encodeName(folder));
}

void selectFile(const QString& name) {
    auto* list = queryControl<FileListBox>("File1");
    QVERIFY(list);
    const QList<QListWidgetItem*> found = list->findItems(name, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    list->scrollToItem(found.constFirst());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(found.constFirst()).center());
    QCOMPARE(list->FileName(), name);
}

void chooseOpen() {
    frmMain2* window = queryWindow();
    QVERIFY(window);
    auto* bar = window->findChild<QMenuBar*>();
    auto* action = window->findChild<QAction*>(QStringLiteral("mnuFileOpen"));
    QVERIFY(bar && action);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(action).center());
}

} // namespace tova::test
