#include "Fakes.h"
#include "Form1.h"
#include "MMControl.h"
#include "PtyPair.h"
#include "QuerySupport.h"
#include "RecordingsFolder.h"
#include "Windows.h"
#include "frmMain.h"
#include "frmMain2.h"

#include <QAction>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QLabel>
#include <QMenuBar>
#include <QRawFont>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>

#include <algorithm>
#include <optional>

using namespace std::chrono_literals;
using namespace tova;
using namespace tova::test;

namespace {

void setTextOf(QWidget* control, const QString& text) {
    if (auto* button = qobject_cast<QAbstractButton*>(control)) button->setText(text);
    if (auto* label = qobject_cast<QLabel*>(control)) label->setText(text);
}

bool isChinese(char32_t c) {
    return c >= 0x4E00 && c <= 0x9FFF;
}

// Each Chinese character of the text is drawn from a font made for Chinese, the control's own
// or a fallback, and not as the empty box of a missing glyph.
void verifyChineseDrawn(const QString& text, const QFont& font) {
    for (char32_t c : text.toUcs4()) {
        if (!isChinese(c)) continue;
        const QString character = QString::fromUcs4(&c, 1);
        QTextLayout layout(character, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QGlyphRun run = layout.glyphRuns().value(0);
        const QString family = run.rawFont().familyName();
        QVERIFY2(!run.glyphIndexes().isEmpty() && !run.glyphIndexes().contains(0),
                 qPrintable(family + u' ' + character));
        QVERIFY2(QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese),
                 qPrintable(family + u' ' + character));
    }
}

void verifyChineseDrawn(QWidget* control) {
    QVERIFY(control);
    const QString text = textOf(control);
    const auto chinese = std::ranges::count_if(text.toUcs4(), isChinese);
    QVERIFY2(chinese > 0, qPrintable(control->objectName() + ": " + text));
    verifyChineseDrawn(text, control->font());
    if (QTest::currentTestFailed()) return;

    const QImage drawn = control->grab().toImage();
    setTextOf(control, QString());
    const QImage bare = control->grab().toImage();
    setTextOf(control, text);
    int ink = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            ink += drawn.pixel(x, y) != bare.pixel(x, y);
    // A few dozen pixels for each character at the least.
    QVERIFY2(ink >= 20 * chinese, qPrintable(control->objectName() + ": " + QString::number(ink)));
}

void save(QWidget& window, const QString& name) {
    QVERIFY(QDir().mkpath(QStringLiteral(TOVA_SCREENSHOT_DIR)));
    const QString path = QStringLiteral(TOVA_SCREENSHOT_DIR "/") + name;
    QVERIFY2(window.grab().save(path), qPrintable(path));
}

} // namespace

// The three windows on a real X display, as a user sees them, saved as pictures.
class ScreenshotTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void mainWindow();
    void recorderWindow();
    void queryWindow();

private:
    QTemporaryDir m_scratch;
    PortFolder m_ports;
    std::optional<RecordingsFolder> m_recordings;
    MessageBoxesFake m_boxes;
};

void ScreenshotTest::initTestCase() {
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QVERIFY(m_scratch.isValid());
    useTemporaryFolderIn(m_scratch);
    m_recordings.emplace();
}

void ScreenshotTest::cleanupTestCase() {
    unloadAllWindows();
    m_recordings.reset();
}

void ScreenshotTest::mainWindow() {
    // No modem anywhere: the window says so and carries on.
    m_ports.noModem();
    Form1& form = DefaultForm<Form1>::Show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(m_boxes->shown.size(), 1);
    QVERIFY(m_boxes->shown[0].prompt.contains(QStringLiteral("MODEM")));
    QTest::keyClicks(form.Text1, QStringLiteral("010-62345678"));
    QTRY_VERIFY(!form.Label5->text().isEmpty());

    QCOMPARE(form.size(), QSize(628, 364));
    for (const char* name :
         {"Command1", "Command2", "Command3", "Command4", "Command5", "Command7", "Label2"})
        verifyChineseDrawn(form.findChild<QWidget*>(QString::fromLatin1(name)));
    save(form, QStringLiteral("main-window.png"));
}

void ScreenshotTest::recorderWindow() {
    // Stored under a name as a Chinese system's formats give it.
    ClockFake clock;
    clock->moments = {QDateTime::currentDateTime()};
    frmMain& recorder = DefaultForm<frmMain>::Show();
    QVERIFY(QTest::qWaitForWindowExposed(&recorder));
    QTRY_COMPARE(recorder.mci->Mode(), int(mciModeRecord));
    QTRY_VERIFY_WITH_TIMEOUT(recorder.mci->Length() >= 1000, 10000);
    // The labels show the device as its next report finds it.
    QVERIFY(QSignalSpy(recorder.mci, &MMControl::StatusUpdate).wait());

    QCOMPARE(recorder.size(), QSize(312, 209));
    for (QLabel* control : {recorder.lblNow, recorder.Label1, recorder.lblTotal})
        verifyChineseDrawn(control);
    save(recorder, QStringLiteral("recorder-window.png"));
    QVERIFY(DefaultForm<frmMain>::Unload());
}

void ScreenshotTest::queryWindow() {
    const QString opened = QStringLiteral("2024-5-20143015.wav");
    QVERIFY(writeRecording(QStringLiteral("2024-5-1909030.wav"), 2000ms));
    QVERIFY(writeRecording(opened, 1500ms));

    frmMain2& query = DefaultForm<frmMain2>::Show();
    QVERIFY(QTest::qWaitForWindowExposed(&query));
    selectFile(opened);
    chooseOpen();
    auto* mci2 = queryControl<MMControl>("mci2");
    QVERIFY(mci2);
    QCOMPARE(mci2->Length(), 1500);
    mci2->press(MciButton::Play);
    QTRY_COMPARE_WITH_TIMEOUT(mci2->Position(), mci2->Length(), 10000);
    QTRY_COMPARE(queryControl<QLabel>("lblNow2")->text(), QStringLiteral("现在时间： 1.5  秒"));

    // The design's client area lies below the menu bar.
    auto* bar = query.findChild<QMenuBar*>();
    QWidget* client = queryControl<QWidget>("File1")->parentWidget();
    QCOMPARE(client->size(), QSize(859, 714));
    QCOMPARE(client->y(), bar->geometry().bottom() + 1);
    QCOMPARE(query.size(), QSize(859, 714 + bar->height()));

    for (const char* name : {"lblNow2", "lblTotal2", "Command1"})
        verifyChineseDrawn(queryControl<QWidget>(name));
    const QString menu = query.findChild<QAction*>(QStringLiteral("mnuFileOpen"))->text();
    verifyChineseDrawn(menu, bar->font());
    save(query, QStringLiteral("query-window.png"));
}

QTEST_MAIN(ScreenshotTest)
#include "tst_screenshots.moc"
