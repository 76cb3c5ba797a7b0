#include "CallTags.h"
#include "PtyPair.h"
#include "ToneIntoLine.h"

#include <QProcess>
#include <QTest>

#include <csignal>

using namespace tova::test;

namespace {

// The main window's buttons, at the screen's top-left corner with the window.
constexpr int kAnswerY = 88, kHangUpY = 120;
int click(int y) {
    return QProcess::execute("xdotool", {"mousemove", "484", QString::number(y), "click", "1"});
}

// The program, not this process forked to start it, catches SIGTERM.
bool catchesSigterm(const QProcess& program) {
    QFile file(QStringLiteral("/proc/%1/status").arg(program.processId()));
    const QByteArray status = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const qsizetype caught = status.indexOf("SigCgt:") + 7;
    return status.startsWith("Name:\ttova-recorder") &&
           (status.mid(caught, 17).trimmed().toULongLong(nullptr, 16) & (1 << (SIGTERM - 1)));
}

} // namespace

// The program itself, on a private X display and sound server, a modem on a pty and a tone on
// the line, driven by clicks as a user would.
class CallTest : public QObject {
    Q_OBJECT
private slots:
    void everyCallIsStoredOnce() {
        QTemporaryDir app;
        QVERIFY(QFile::copy(TOVA_PROGRAM, app.filePath("tova-recorder")));
        const QDir recordings(app.filePath("录音数据")), working(recordings.filePath(".录音中"));
        PortFolder ports;
        const auto line = ports.line(3);
        ScriptedModem modem(line->peerLink());
        ToneIntoLine tone(440);
        QVERIFY(line->isReady() && modem.isOpen() && tone.playing());
        QProcess program;
        program.start(app.filePath("tova-recorder"));
        QTRY_VERIFY_WITH_TIMEOUT(
            QProcess::execute("xdotool", {"search", "--onlyvisible", "--name", "TOVA"}) == 0,
            20000);

        // Answered, hung up: stored with the sound of the line.
        QCOMPARE(click(kAnswerY), 0);
        QTRY_VERIFY_WITH_TIMEOUT(working.entryInfoList(QDir::Files).value(0).size() > 50000, 20000);
        QCOMPARE(click(kHangUpY), 0);
        QTRY_COMPARE(recordings.entryList(QDir::Files).size(), 1);
        QTRY_COMPARE(modem.commandLines(), (QByteArrayList{"AT H1 \r", "AT H0 \r"}));
        const WavProbe call(recordings.filePath(recordings.entryList(QDir::Files).first()));
        QVERIFY(call.milliseconds() >= 3000);
        QVERIFY2(std::abs(call.toneHz() - 440) < 5, qPrintable(QString::number(call.toneHz())));

        // Answered, killed mid-call: the next start stores it, once; stopped while it tells
        // the user so, the program ends at once.
        QCOMPARE(click(kAnswerY), 0);
        QTRY_VERIFY_WITH_TIMEOUT(working.entryInfoList(QDir::Files).value(0).size() > 20000, 20000);
        program.kill();
        QVERIFY(program.waitForFinished());
        program.start(app.filePath("tova-recorder"));
        QTRY_COMPARE_WITH_TIMEOUT(recordings.entryList(QDir::Files).size(), 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(catchesSigterm(program), 10000);
        program.terminate();
        QVERIFY(program.waitForFinished(5000));
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(recordings.entryList(QDir::Files).size(), 2);
        QCOMPARE(working.entryList(QDir::Files), QStringList());
        // What was known of the call cut off is kept with it.
        for (const QString& name : recordings.entryList(QDir::Files))
            QCOMPARE(tova::readCallTags(recordings.filePath(name)).call.direction, "呼入");
    }
};

QTEST_MAIN(CallTest)
#include "tst_call.moc"
