#include "FakeAudio.h"
#include "Fakes.h"
#include "MMControl.h"
#include "PtyPair.h"
#include "RecordingsFolder.h"
#include "Termination.h"
#include "WavProbe.h"
#include "frmMain.h"
#include "frmMain2.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

using namespace tova;
using namespace tova::test;

namespace {
// The program, not this process forked to start it, catches SIGTERM.
bool catchesSigterm(const QProcess& program) {
    QFile file(QStringLiteral("/proc/%1/status").arg(program.processId()));
    const QByteArray status = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const qsizetype at = status.indexOf("SigCgt:");
    return status.startsWith("Name:\ttova-recorder") && at >= 0 &&
           (status.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) & (1 << (SIGTERM - 1)));
}
} // namespace

// However the program ends, the call being recorded is stored: by the program itself (the
// real one, on a private X display and sound server) and by its windows in this process.
class TestTermination : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { unloadAllOnTermination(); }

    // Killed mid-call, then started again (twice): the call is back, once. Stopped while it
    // says so, it ends at once.
    void killedProgramsCallComesBackOnce() {
        QTemporaryDir app;
        QVERIFY(QFile::copy(TOVA_PROGRAM, app.filePath("tova-recorder")));
        const QDir recordings(app.filePath("录音数据")), working(recordings.filePath(".录音中"));
        PortFolder ports;
        const auto line = ports.line(3);
        QVERIFY(line->isReady());
        QProcess program;
        program.start(app.filePath("tova-recorder"));
        QProcess::execute("timeout", {"20", "xdotool", "search", "--sync", "--name", "TOVA"});
        // The answer button of the main window, at the screen's top-left corner.
        QCOMPARE(QProcess::execute("xdotool", {"mousemove", "484", "88", "click", "1"}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(working.entryInfoList(QDir::Files).value(0).size() > 20000, 20000);
        program.kill();
        QVERIFY(program.waitForFinished());

        for (int start = 0; start < 2; ++start) {
            program.start(app.filePath("tova-recorder"));
            QTRY_VERIFY_WITH_TIMEOUT(catchesSigterm(program), 10000);
            QTRY_COMPARE(recordings.entryList(QDir::Files).size(), 1);
            program.terminate();
            QVERIFY(program.waitForFinished(5000));
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 0);
            QCOMPARE(recordings.entryList(QDir::Files).size(), 1);
            QCOMPARE(working.entryList(QDir::Files), QStringList());
        }
        QVERIFY(WavProbe(recordings.filePath(recordings.entryList(QDir::Files).first())).frames() >
                8000);
    }

    // Any way of asking the process to stop: the recorder is stored first, before the query
    // window asks about its own recording, then every window goes.
    void signalStoresTheCallFirst_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void signalStoresTheCallFirst() {
        QFETCH(int, signal);
        FakeAudio audio;
        ClockFake clock;
        MessageBoxesFake boxes;
        RecordingsFolder folder;
        frmMain& recorder = DefaultForm<frmMain>::Show();
        QTRY_COMPARE(recorder.mci->Mode(), int(mciModeRecord));
        DefaultForm<frmMain2>::Show().findChild<MMControl*>("mci2")->press(MciButton::Record);
        audio.capture(std::chrono::milliseconds(1500));
        QStringList storedWhenAsked;
        boxes->answers = {vbNo};
        boxes->whileShown = [&] { storedWhenAsked = RecordingsFolder::files(); };
        QSignalSpy allGone(&FormRegistry::instance(), &FormRegistry::allUnloaded);

        QCOMPARE(::raise(signal), 0);
        QTRY_COMPARE(allGone.count(), 1);
        QCOMPARE(storedWhenAsked, QStringList{"2007-3-15140509.wav"});
        QCOMPARE(boxes->shown.size(), 1);
        QCOMPARE(WavProbe(RecordingsFolder::file(storedWhenAsked.value(0))).milliseconds(), 1500);
    }
};

QTEST_MAIN(TestTermination)
#include "tst_termination.moc"
