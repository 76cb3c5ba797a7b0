#include "AppInfo.h"
#include "FakeAudio.h"
#include "Fakes.h"
#include "Form.h"
#include "MMControl.h"
#include "Termination.h"
#include "frmMain.h"
#include "frmMain2.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

using namespace tova;
using namespace tova::test;

// Stopping the process (shutdown, logout) closes the windows first, so a call being recorded
// is stored.
class TestTermination : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { unloadAllOnTermination(); }

    void signalStoresTheCallAndUnloadsEveryWindow_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void signalStoresTheCallAndUnloadsEveryWindow() {
        QFETCH(int, signal);
        FakeAudio audio;
        ClockFake clock;
        clock->moments = {QDateTime(QDate(2026, 12, 6), QTime(9, 30, signal))};
        QDir folder(recordingsFolder());
        QVERIFY(folder.mkpath(QStringLiteral(".")));
        const QString expected =
            QStringLiteral("2026-12-6930%1.wav").arg(signal, 2, 10, QChar('0'));
        QFile::remove(folder.filePath(expected));

        DefaultForm<frmMain2>::Show();
        frmMain& recorder = DefaultForm<frmMain>::Show();
        QTRY_COMPARE(recorder.mci->Mode(), int(mciModeRecord));
        audio.capture(std::chrono::milliseconds(1500));
        QSignalSpy allGone(&FormRegistry::instance(), &FormRegistry::allUnloaded);

        QCOMPARE(::raise(signal), 0);
        QTRY_COMPARE(allGone.count(), 1);
        QCOMPARE(DefaultForm<frmMain>::loaded(), nullptr);
        QCOMPARE(DefaultForm<frmMain2>::loaded(), nullptr);
        QVERIFY(folder.exists(expected));
        QVERIFY(QFile::remove(folder.filePath(expected)));
    }
};

QTEST_MAIN(TestTermination)
#include "tst_termination.moc"
