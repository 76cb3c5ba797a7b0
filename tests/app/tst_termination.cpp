#include "FakeAudio.h"
#include "Fakes.h"
#include "Form1.h"
#include "MMControl.h"
#include "PtyPair.h"
#include "RecordingsFolder.h"
#include "Termination.h"
#include "WavProbe.h"
#include "Windows.h"
#include "frmMain.h"
#include "frmMain2.h"

#include <QProcess>
#include <QPushButton>
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

    // Any way of asking the process to stop: the recorder is stored first, before the query
    // window asks about its own recording, then every window goes, and a call still up is hung
    // up on the line. 0: 退出 pressed, which closes the main window alone.
    void signalStoresTheCallFirst_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("hungUp"); // before the signal
        QTest::newRow("SIGTERM") << SIGTERM << false;
        QTest::newRow("SIGHUP") << SIGHUP << false;
        QTest::newRow("SIGINT") << SIGINT << false;
        QTest::newRow("退出") << 0 << false;
        QTest::newRow("SIGTERM after the hang-up") << SIGTERM << true;
    }
    void signalStoresTheCallFirst() {
        QFETCH(int, signal);
        QFETCH(bool, hungUp);
        FakeAudio audio;
        ClockFake clock;
        MessageBoxesFake boxes;
        RecordingsFolder folder;
        PortFolder ports;
        const auto line = ports.line(3);
        ScriptedModem modem(line->peerLink(), false);
        Form1& main = DefaultForm<Form1>::Show();
        main.Command3->click();
        frmMain& recorder = *DefaultForm<frmMain>::loaded();
        QTRY_COMPARE(recorder.mci->Mode(), int(mciModeRecord));
        DefaultForm<frmMain2>::Show().findChild<MMControl*>("mci2")->press(MciButton::Record);
        audio.capture(std::chrono::milliseconds(1500));
        const QByteArrayList calls{"AT H1 \r", "AT H0 \r"};
        boxes->answers = {vbNo};
        if (hungUp) main.Command4->click();
        if (signal == 0) {
            main.Command5->click();
            QTRY_COMPARE(modem.commandLines(), calls);
            return unloadAllWindows();
        }
        QStringList storedWhenAsked;
        boxes->whileShown = [&] { storedWhenAsked = RecordingsFolder::files(); };
        QSignalSpy allGone(&FormRegistry::instance(), &FormRegistry::allUnloaded);

        QCOMPARE(::raise(signal), 0);
        QTRY_COMPARE(allGone.count(), 1);
        QCOMPARE(storedWhenAsked, QStringList{"2007-3-15140509.wav"});
        QCOMPARE(WavProbe(RecordingsFolder::file(storedWhenAsked.value(0))).milliseconds(), 1500);
        QTRY_COMPARE(modem.commandLines(), calls);
    }

    // Programs started from here (the browser) hold none of its descriptors.
    void childrenInheritNoSocket() {
        QProcess child;
        child.start("sh", {"-c", "ls -l /proc/$$/fd"});
        QVERIFY(child.waitForFinished());
        const QByteArray open = child.readAll();
        QVERIFY2(open.contains("pipe:") && !open.contains("socket:"), open.constData());
    }
};

QTEST_MAIN(TestTermination)
#include "tst_termination.moc"
