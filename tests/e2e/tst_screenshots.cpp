#include "Fakes.h"
#include "Form1.h"
#include "MMControl.h"
#include "PtyPair.h"
#include "QuerySupport.h"
#include "TabOrder.h"
#include "Windows.h"
#include "frmMain.h"

#include <QCursor>
#include <QPushButton>
#include <QSignalSpy>

#include <xcb/xtest.h>

using namespace tova;
using namespace tova::test;

namespace {

// Moves the pointer as a mouse does; a warp, as QCursor::setPos() makes, is no motion.
bool movePointer(QPoint to) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_generic_error_t* error = xcb_request_check(
        connection, xcb_test_fake_input_checked(connection, XCB_MOTION_NOTIFY, false,
                                                XCB_CURRENT_TIME, root, to.x(), to.y(), 0));
    std::free(error);
    xcb_disconnect(connection);
    return !error;
}

} // namespace

// The three windows on a real X display as a user meets them: where their controls stand (main
// window: spot checks in pixels at 96 dpi; query window: its whole picture), where Tab takes the
// focus, and the pictures the README shows.
class ScreenshotTest : public QObject {
    Q_OBJECT
    const QString m_pictures = QStringLiteral(TOVA_SCREENSHOT_DIR "/");
    QTemporaryDir m_scratch;
    PortFolder m_ports;
    RecordingsFolder m_recordings;
    MessageBoxesFake m_boxes;

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY(QDir().mkpath(m_pictures));
        useTemporaryFolderIn(m_scratch);
        m_ports.noModem();
    }
    void cleanupTestCase() { unloadAllWindows(); }

    void mainWindow() {
        Form1& form = DefaultForm<Form1>::Show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(QApplication::focusWidget(), form.Text1);
        QCOMPARE(form.frameGeometry(), QRect(0, 0, 628, 364));
        QCOMPARE(form.Command3->geometry(), QRect(448, 72, 73, 33));
        QCOMPARE(form.Text1->geometry(), QRect(112, 96, 177, 25));
        QCOMPARE(form.Label5->geometry(), QRect(408, 264, 177, 41));
        QCOMPARE(form.Image1->geometry(), QRect(512, 320, 127, 53));
        QCOMPARE(form.Image1->pixmap().size(), QSize(400, 140));
        verifyTabOrder({form.Text1, form.Command3, form.Command4, form.Text7, form.Text8,
                        form.Command2, form.Command1, form.Command5, form.Command7, form.Text1});
        QTest::keyClicks(form.Text1, QStringLiteral("010-62345678"));
        // The clock in the user's time format, without its zone.
        QTRY_VERIFY(QTime::fromString(form.Label5->text(), QStringLiteral("HH:mm:ss")).isValid());
        QVERIFY(form.grab().save(m_pictures + "main-window.png"));

        // The pointer where the user moves it at once, and where another program puts it
        // within the second; outside the window, which the pictures show without hover.
        const auto shown = [&form] {
            return QPoint(form.Text7->text().toInt(), form.Text8->text().toInt());
        };
        for (const QPoint to : {QPoint(900, 700), QPoint(1000, 20), QPoint(700, 600)}) {
            QVERIFY(movePointer(to));
            QTRY_COMPARE_WITH_TIMEOUT(shown(), to, 400);
        }
        QCursor::setPos(1100, 900);
        QTRY_COMPARE_WITH_TIMEOUT(shown(), QPoint(1100, 900), 1500);
    }

    void recorderWindow() {
        ClockFake clock; // names the call as a Chinese system does, at a set time
        clock->moments = {QDateTime(QDate(2024, 5, 21), QTime(9, 30, 0))};
        frmMain& recorder = DefaultForm<frmMain>::Show();
        QVERIFY(QTest::qWaitForWindowExposed(&recorder));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.mci->Length() >= 1000, 10000);
        QVERIFY(QSignalSpy(recorder.mci, &MMControl::StatusUpdate).wait());
        QVERIFY(recorder.grab().save(m_pictures + "recorder-window.png"));
        QVERIFY(DefaultForm<frmMain>::Unload());
    }

    void queryWindow() {
        QVERIFY(writeTaggedRecording("2024-5-20143015.wav",
                                     {"13800138000", "王小明", kIncoming,
                                      QDateTime({2024, 5, 20}, {14, 30, 15})},
                                     1500));
        frmMain2& query = DefaultForm<frmMain2>::Show();
        QVERIFY(QTest::qWaitForWindowActive(&query));
        QCOMPARE(query.frameGeometry().topLeft(), QPoint(0, 0));
        selectFile(QStringLiteral("2024-5-20143015.wav"));
        QTRY_COMPARE(queryControl<QLabel>("lblNumber")->text(), QStringLiteral("13800138000"));
        QTRY_VERIFY(!queryControl("lblLearning")->isVisible());
        verifyTabOrder({queryControl("mci2"), queryControl("File1"), queryControl("sld2"),
                        queryControl("Command1"), queryControl("txtSearch"), queryControl("txtNote"),
                        queryControl("mci2")});
        chooseOpen();
        queryControl<MMControl>("mci2")->press(MciButton::Play);
        QTRY_COMPARE_WITH_TIMEOUT(queryControl<QLabel>("lblNow2")->text(),
                                  QStringLiteral("现在时间： 1.5  秒"), 10000);
        // The picture is of the bar once the playback has ended, not of its last moment.
        QTRY_COMPARE(queryControl<MMControl>("mci2")->Mode(), int(mciModeStop));
        // What the user sees, to the pixel, is the README's picture; after a change meant to
        // show, copy the new picture from the build to docs/.
        const QImage seen = query.grab().toImage();
        QVERIFY(seen.save(m_pictures + "query-window.png"));
        const QImage readme(QStringLiteral(TOVA_TEST_DATA "/../../docs/query-window.png"));
        QCOMPARE(seen, readme.convertToFormat(seen.format()));
    }
};

QTEST_MAIN(ScreenshotTest)
#include "tst_screenshots.moc"
