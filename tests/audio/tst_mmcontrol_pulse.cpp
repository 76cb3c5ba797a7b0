#include "Fakes.h"
#include "RecordingsFolder.h"
#include "Settings.h"
#include "ToneIntoLine.h"
#include "Windows.h"

#include "MMControl.h"
#include "frmMain.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <optional>
#include <sys/resource.h>

using namespace tova;
using namespace tova::test;

namespace {

constexpr double kTone = 440;

// The private server keeps its socket, and under run/ its process id, in a folder of its own.
QString serverFolder() {
    return QFileInfo(qEnvironmentVariable("PULSE_SERVER").remove(QStringLiteral("unix:"))).path();
}

bool serverAnswers() {
    return QProcess::execute("sh", {"-c", "pactl info >/dev/null 2>&1"}) == 0;
}

bool signalServer(int signal) {
    QFile pid(serverFolder() + "/run/pulse/pid");
    return pid.open(QIODevice::ReadOnly) && ::kill(pid.readAll().trimmed().toInt(), signal) == 0;
}

// Gone once it is reaped, too: the pid file of one not yet reaped keeps the next from starting.
bool killServer() {
    QFile pid(serverFolder() + "/run/pulse/pid");
    const QString proc = pid.open(QIODevice::ReadOnly) ? "/proc/" + pid.readAll().trimmed() : "";
    return signalServer(SIGKILL) &&
           QTest::qWaitFor([&] { return !QFileInfo::exists(proc); }, 10000);
}

bool startServer() {
    return QProcess::execute("bash",
                             {"-c", ". \"$0\" && PULSE_HOME=\"$1\" pulse_serve",
                              TOVA_TEST_DATA "/../../scripts/lib/pulse.sh", serverFolder()}) == 0;
}

// For the life of this object no file of this process grows past room bytes, as on a full disk.
struct DiskFull {
    rlimit before{};
    explicit DiskFull(rlim_t room = 0) {
        getrlimit(RLIMIT_FSIZE, &before);
        const rlimit none{room, before.rlim_max};
        setrlimit(RLIMIT_FSIZE, &none);
    }
    ~DiskFull() { setrlimit(RLIMIT_FSIZE, &before); }
};

} // namespace

// The device and the recorder window on the private sound server, whose line carries a tone.
class TestMMControlPulse : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { std::signal(SIGXFSZ, SIG_IGN); }
    void cleanup() { delete DefaultForm<frmMain>::loaded(); }

    void playbackPositionIsWhatWasHeard() {
        QTemporaryDir dir;
        QVERIFY(
            writeTone(dir.filePath("tone.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 2, 1000));
        MMControl mci;
        mci.setFileName(dir.filePath("tone.wav"));
        mci.setCommand("Open");
        connect(&mci, &MMControl::RecordClick, this, [](short& cancel) { cancel = 1; });
        mci.press(MciButton::Record);
        QCOMPARE(mci.Mode(), int(mciModeStop));
        // The second time, play starts over from the end.
        for (int round = 0; round < 2; ++round) {
            mci.press(MciButton::Play);
            QElapsedTimer clock;
            clock.start();
            while (mci.Mode() == mciModePlay && clock.elapsed() < 5000) {
                QTest::qWait(50);
                // What was heard, not what went to the server: that runs a buffer ahead.
                QVERIFY(mci.Position() <= clock.elapsed() + 100);
            }
            QCOMPARE(mci.Position(), 1000);
            QVERIFY(clock.elapsed() >= 900);
        }
    }

    // One call per row, in this order: the input goes away mid-call (the next call records the
    // line's sink instead), then the server hangs, also at the answer, then it goes, is back for
    // the next call, away at the one after and back for the rest. "busy": the program does not
    // look at the server for a second, and what came meanwhile must still be stored. A call
    // that recorded nothing stores nothing. Nothing holds up the window at the answer.
    void calls_data() {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("status");
        const QString recording = "录音进行中............. ", full = "录音失败：磁盘已满或无法写入",
                      lost = "录音失败：声音设备已断开";
        QTest::newRow("input device gone mid-call") << "unplug" << lost;
        QTest::newRow("server hangs mid-call") << "hang" << lost;
        QTest::newRow("server hangs at the answer") << "hang at answer"
                                                    << "录音失败：没有可用的声音设备";
        QTest::newRow("server lost mid-call") << "kill" << lost;
        QTest::newRow("server back") << "back" << recording;
        QTest::newRow("server away") << "away at answer"
                                     << "录音失败：没有可用的声音设备";
        QTest::newRow("server back, hang-up while busy") << "busy" << recording;
        QTest::newRow("stop while busy") << "busy, stop" << recording;
        QTest::newRow("disk full mid-call") << "fill" << full;
        QTest::newRow("disk full at answer") << "full at answer" << full;
        QTest::newRow("disk full for the last piece") << "full at hang-up" << recording;
        QTest::newRow("source chosen") << "source line.monitor" << recording;
        QTest::newRow("source missing") << "source nothing at answer"
                                        << "录音失败：没有可用的声音设备";
    }
    void calls() {
        QFETCH(QString, event);
        QFETCH(QString, status);
        const bool serverUp = event != "away at answer", midCall = !event.endsWith("at answer");
        if (serverAnswers() != serverUp) QVERIFY(serverUp ? startServer() : killServer());
        RecordingsFolder folder;
        MessageBoxesFake boxes;
        std::optional<ToneIntoLine> line;
        if (midCall) QVERIFY((line.emplace(kTone), line->playing()));
        std::optional<DiskFull> diskFull;
        if (event == "full at answer") diskFull.emplace();
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        if (event.startsWith("source"))
            QSettings(Settings::path(), QSettings::IniFormat)
                .setValue("audio/source", event.section(u' ', 1, 1));
        Settings::reload();

        if (event == "hang at answer") QVERIFY(signalServer(SIGSTOP));
        LoopGaps gaps;
        frmMain& w = DefaultForm<frmMain>::Show();
        if (midCall) QTRY_VERIFY_WITH_TIMEOUT(w.mci->Length() >= 1000, 10000);
        const int kept = w.mci->Length();
        if (event == "kill") QVERIFY(killServer());
        if (event == "hang") QVERIFY(signalServer(SIGSTOP));
        if (event == "unplug")
            QCOMPARE(QProcess::execute("pactl", {"unload-module", "module-remap-source"}), 0);
        if (event == "fill") diskFull.emplace();
        if (event.startsWith("busy")) QThread::msleep(1000);
        if (event == "busy, stop") w.mci->press(MciButton::Stop);
        QTRY_COMPARE_WITH_TIMEOUT(w.Label1->text(), status, 8000);
        if (event.startsWith("hang")) QVERIFY(signalServer(SIGCONT));
        if (!midCall)
            QVERIFY2(gaps.longestMs() < 500, qPrintable(QString::number(gaps.longestMs())));

        // The working file cannot grow for what the hang-up takes in last: what came before is
        // stored all the same, and the hang-up says nothing.
        if (event == "full at hang-up") {
            diskFull.emplace(QDir(workingFolder()).entryInfoList(QDir::Files).value(0).size());
            QThread::msleep(1000);
        } else {
            diskFull.reset();
        }
        QVERIFY(DefaultForm<frmMain>::Unload());
        QCOMPARE(boxes->shown.size(), 0);
        QCOMPARE(RecordingsFolder::files().size(), midCall ? 1 : 0);
        if (!midCall) return;
        const WavProbe stored(RecordingsFolder::file(RecordingsFolder::files().value(0)));
        QVERIFY(stored.milliseconds() >= kept + (event.startsWith("busy") ? 800 : 0));
        QVERIFY(stored.rms() > 0.1 && qAbs(stored.toneHz() - kTone) < 5);
    }
};

QTEST_MAIN(TestMMControlPulse)
#include "tst_mmcontrol_pulse.moc"
