#include "AppInfo.h"
#include "FakeAudio.h"
#include "Fakes.h"
#include "Form.h"
#include "MMControl.h"
#include "Termination.h"
#include "frmMain.h"
#include "frmMain2.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace tova;
using namespace tova::test;

namespace {
quint64 caughtSignals(const QString& procStatus) {
    QFile file(procStatus);
    if (!file.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("SigCgt:")) return line.mid(7).trimmed().toULongLong(nullptr, 16);
    return 0;
}
} // namespace

// Stopping the process (shutdown, logout) closes the windows first, so a call being recorded
// is stored.
class TestTermination : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { unloadAllOnTermination(); }

    // The program itself, stopped while its start-up message waits for an answer.
    void programStopsDuringStartUpMessage() {
        QTemporaryDir ports;
        for (int port = 3; port <= 9; ++port)
            QFile::link(ports.filePath("nothing"),
                        ports.filePath(QStringLiteral("com%1").arg(port)));
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TOVA_PORT_DIR", ports.path());
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(TOVA_PROGRAM));
        QVERIFY(program.waitForStarted());
        // SIGTERM shows among the caught signals once the program is ready for it.
        const QString status = QStringLiteral("/proc/%1/status").arg(program.processId());
        QTRY_VERIFY_WITH_TIMEOUT(caughtSignals(status) & (1ULL << (SIGTERM - 1)), 10000);
        program.terminate();
        QVERIFY(program.waitForFinished(5000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

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
