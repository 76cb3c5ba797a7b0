#include "Fakes.h"
#include "Form1.h"
#include "PtyPair.h"
#include "Windows.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QMenuBar>
#include <QRawFont>
#include <QScreen>
#include <QTest>
#include <QTextLayout>

using namespace tova;
using namespace tova::test;

namespace {

// The families that draw `text`, and how many glyphs are missing from them.
QStringList drawingFamilies(const QString& text, const QFont& font, int& missing) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    QStringList families;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        families.append(run.rawFont().familyName());
        missing += run.glyphIndexes().count(0);
    }
    return families;
}

} // namespace

// The main window's design, control by control.
class TestForm1Layout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_ports.noModem();
        m_form = &DefaultForm<Form1>::Show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form));
    }

    void cleanupTestCase() { DefaultForm<Form1>::Unload(); }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("family");
        QTest::addColumn<qreal>("points");

        const QString ui = QStringLiteral("WenQuanYi Micro Hei");
        const QString lishu = QStringLiteral("隶书");
        auto row = [](const char* name, const char* kind, const QString& text, QRect twips,
                      const QString& family, qreal points) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind) << text
                                << twips << family << points;
        };
        row("Command2", "QPushButton", "拨电话", {6720, 600, 1095, 495}, ui, 9);
        row("Command3", "QPushButton", "接电话", {6720, 1080, 1095, 495}, ui, 9);
        row("Text1", "QLineEdit", "", {1680, 1440, 2655, 375}, ui, 9);
        row("Label2", "QLabel", "请输入电话号码", {120, 1560, 1335, 255}, ui, 9);
        row("Command4", "QPushButton", "挂断电话", {6720, 1560, 1095, 495}, ui, 9);
        row("Command1", "QPushButton", "查询语音", {6720, 2040, 1095, 495}, ui, 9);
        row("Label4", "QLabel", "", {120, 2400, 1575, 495}, ui, 9);
        row("Label1", "QLabel", "", {2520, 2400, 1695, 615}, ui, 9);
        row("Command5", "QPushButton", "退出", {6720, 2520, 1095, 495}, ui, 9);
        row("Command7", "QPushButton", "Tova游戏频道", {6720, 3360, 1095, 375}, lishu, 7.5);
        row("Label5", "QLabel", "", {6120, 3960, 2655, 615}, lishu, 21.75);
        row("Image1", "QLabel", "", {7680, 4800, 1905, 795}, ui, 9);
    }

    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(QRect, twips);
        QFETCH(QString, family);
        QFETCH(qreal, points);

        auto* control = m_form->findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->parentWidget(), m_form);
        QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);
        QCOMPARE(control->geometry(),
                 QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
        QCOMPARE(textOf(control), text);
        QCOMPARE(control->font().family(), family);
        QCOMPARE(control->font().pointSizeF(), points);
    }

    void window() {
        QCOMPARE(m_form->windowTitle(), QStringLiteral("TOVA电话录音系统V2.0"));
        QCOMPARE(m_form->size(), QSize(628, 364));
        QCOMPARE(m_form->frameGeometry().topLeft(),
                 QGuiApplication::primaryScreen()->geometry().topLeft());
        QVERIFY(m_form->findChildren<QMenuBar*>().isEmpty());
    }

    void tabOrderAndFirstFocus() {
        QVERIFY(QTest::qWaitForWindowActive(m_form));
        QCOMPARE(QApplication::focusWidget(), m_form->Text1);

        QStringList order;
        QWidget* control = m_form->Text1;
        do {
            if (control->focusPolicy() & Qt::TabFocus) order.append(control->objectName());
            control = control->nextInFocusChain();
        } while (control != m_form->Text1);
        QCOMPARE(order, (QStringList{"Text1", "Command3", "Command4", "Text7", "Text8", "Command2",
                                     "Command1", "Command5", "Command7"}));
    }

    void pictures() {
        const QImage picture = m_form->Image1->pixmap().toImage();
        QCOMPARE(picture.size(), QSize(400, 140));
        // The red mark stands out from the background.
        QVERIFY(picture.pixel(10, 70) != picture.pixel(318, 50));
        QVERIFY(qAlpha(m_form->windowIcon().pixmap(32, 32).toImage().pixel(16, 16)) > 0);
    }

    void chineseIsDrawnFromChineseFonts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("sample");
        QTest::addColumn<bool>("brushFace");
        QTest::newRow("Label2") << "Label2" << QStringLiteral("请输入电话号码") << false;
        QTest::newRow("Command7") << "Command7" << QStringLiteral("Tova游戏频道") << true;
        QTest::newRow("Label5") << "Label5" << QStringLiteral("14:05:09 下午") << true;
    }

    void chineseIsDrawnFromChineseFonts() {
        QFETCH(QString, name);
        QFETCH(QString, sample);
        QFETCH(bool, brushFace);
        const QFont font = m_form->findChild<QWidget*>(name)->font();

        const QString resolved = QFontInfo(font).family();
        QVERIFY2(QFontDatabase::writingSystems(resolved).contains(QFontDatabase::SimplifiedChinese),
                 qPrintable(resolved));
        if (brushFace) QCOMPARE(resolved, QStringLiteral("AR PL KaitiM GB"));

        int missing = 0;
        for (const QString& family : drawingFamilies(sample, font, missing))
            QVERIFY2(
                QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese),
                qPrintable(family));
        QCOMPARE(missing, 0);
    }

private:
    PortFolder m_ports;
    MessageBoxesFake m_boxes;
    Form1* m_form = nullptr;
};

QTEST_MAIN(TestForm1Layout)
#include "tst_form1layout.moc"
