#include "ChineseQtTexts.h"
#include "CommonDialog.h"
#include "MessageBoxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QTreeView>

using namespace tova;

// Qt's own texts on the real message box and file dialog, under the C locale.
class TestQtTexts : public QObject {
    Q_OBJECT

    QStringList m_buttons;
    QStringList m_texts;

    // What the modal dialog shows once it is up: its buttons, labels, tool tips and headers.
    void readAndClose() {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) return QTimer::singleShot(10, this, &TestQtTexts::readAndClose);
        for (auto* button : dialog->findChildren<QAbstractButton*>()) {
            if (!button->isVisible()) continue;
            if (!button->text().isEmpty())
                m_buttons << button->text().remove(QRegularExpression("\\(&.\\)|&"));
            m_texts << button->toolTip();
        }
        for (auto* label : dialog->findChildren<QLabel*>())
            if (label->isVisible()) m_texts << label->text();
        for (auto* view : dialog->findChildren<QTreeView*>())
            for (int column = 0; column < view->model()->columnCount(); ++column)
                m_texts << view->model()->headerData(column, Qt::Horizontal).toString();
        qobject_cast<QDialog*>(dialog)->reject();
    }

private slots:
    void initTestCase() { installChineseQtTexts(*qApp); }

    void noLatinWord_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("start-up message") << int(vbOKOnly) << QStringList{"确定"};
        QTest::newRow("save prompt")
            << int(vbYesNoCancel | vbQuestion) << QStringList{"是", "否", "取消"};
        QTest::newRow("save-file dialog") << -1 << QStringList{"保存", "取消"};
    }
    void noLatinWord() {
        QFETCH(int, style);
        QFETCH(QStringList, buttons);
        m_buttons.clear();
        m_texts.clear();
        QTimer::singleShot(0, this, &TestQtTexts::readAndClose);
        if (style < 0)
            QtFileDialogs().saveFileName(nullptr, QStringLiteral("录音文件 (*.wav)"));
        else
            QtMessageBoxes().show(nullptr, QStringLiteral("需要保存吗？"), style, kAppTitle);
        for (const QString& button : buttons)
            QVERIFY2(m_buttons.contains(button), qPrintable(m_buttons.join(u'|')));
        const QRegularExpression word(QStringLiteral("[A-Za-z]{2,}"));
        for (const QString& text : m_texts + m_buttons)
            QVERIFY2(!text.contains(word), qPrintable(text));
    }
};

QTEST_MAIN(TestQtTexts)
#include "tst_qttexts.moc"
