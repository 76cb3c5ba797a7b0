#include "ChineseQtTexts.h"
#include "CommonDialog.h"
#include "MessageBoxes.h"

#include <QTest>
#include <QtWidgets>

using namespace tova;

// Qt's own texts on the real message boxes and file dialog, under the C locale.
class TestQtTexts : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { installChineseQtTexts(*qApp); }

    void chineseOnly_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("start-up message") << int(vbOKOnly) << QStringList{"确定"};
        QTest::newRow("save prompt") << int(vbYesNoCancel) << QStringList{"是", "否", "取消"};
        QTest::newRow("save-file dialog") << -1 << QStringList{"保存", "取消"};
    }
    void chineseOnly() {
        QFETCH(int, style);
        QFETCH(QStringList, buttons);
        // Texts (without "(&Y)" access keys) and tool tips of the dialog's buttons and labels.
        const QRegularExpression accessKey("\\(&.\\)|&");
        QStringList texts;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            for (auto* widget : dialog->findChildren<QWidget*>())
                texts << widget->property("text").toString().remove(accessKey) << widget->toolTip();
            dialog->reject();
        });
        if (style < 0)
            QtFileDialogs().saveFileName(nullptr, QStringLiteral("录音文件 (*.wav)"));
        else
            QtMessageBoxes().show(nullptr, QStringLiteral("需要保存吗？"), style, kAppTitle);
        for (const QString& button : buttons)
            QVERIFY2(texts.contains(button), qPrintable(texts.join(u'|')));
        QCOMPARE(texts.filter(QRegularExpression("[A-Za-z]{2,}")), QStringList());
    }
};

QTEST_MAIN(TestQtTexts)
#include "tst_qttexts.moc"
