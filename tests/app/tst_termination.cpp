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

#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QSessionManager>
#include <QTest>

#include <csignal>

using namespace tova;
using namespace tova::test;

// The session manager as the test plays it: whether the user may be asked now, and whether the
// logout was cancelled.
struct FakeSession : SessionManagement {
    bool interaction = false, cancelled = false;
    bool allowsInteraction(QSessionManager&) override { return interaction; }
    void cancel(QSessionManager&) override { cancelled = true; }
};

// Ending the process (shutdown, logout, a terminal gone) stores the call and hangs it up.
class TestTermination : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { unloadAllOnTermination(); }

    // A call up and a recording in the query window. A signal ends everything at once, asking
    // nothing even when the call cannot be stored, the recorder first and the main window
    // last; what the query window recorded is stored by the next start. The logout lets the
    // query window ask while the call goes on, its audio on the disk; 取消 leaves all as it was;
    // the windows go only at the session's end (Qt's quit). A checkpoint of the session, and
    // 退出, close no more.
    void sessionEnd_data() {
        QTest::addColumn<QString>("end");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("answer"); // at "需要保存吗？"; 0: the session lets nobody ask
        QTest::addColumn<QStringList>("gone"); // the windows that went, in that order
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("kept"); // in .录音中 for the next start, ms of audio each
        const QStringList all{"tova::frmMain", "tova::frmMain2", "tova::Form1"}, none;
        const QStringList call{"2007-3-15140509.wav"}, kept{"1500"};
        QTest::newRow("SIGTERM") << "" << SIGTERM << 0 << all << call << kept;
        QTest::newRow("SIGHUP") << "" << SIGHUP << 0 << all << call << kept;
        QTest::newRow("SIGINT") << "" << SIGINT << 0 << all << call << kept;
        QTest::newRow("SIGTERM after 挂断电话")
            << "挂断电话" << SIGTERM << 0 << all << call << kept;
        QTest::newRow("SIGTERM, folder gone")
            << "folder gone" << SIGTERM << 0 << all << none << none;
        QTest::newRow("退出") << "退出" << 0 << 0 << QStringList{"tova::Form1"} << none << none;
        QTest::newRow("logout, 取消") << "logout" << 0 << int(vbCancel) << none << none << none;
        QTest::newRow("logout, 否") << "logout" << 0 << int(vbNo) << all << call << none;
        QTest::newRow("logout, nobody asked") << "logout" << 0 << 0 << all << call << kept;
        QTest::newRow("checkpoint") << "checkpoint" << 0 << 0 << none << none << none;
    }
    void sessionEnd() {
        QFETCH(QString, end);
        QFETCH(int, signal);
        QFETCH(int, answer);
        QFETCH(QStringList, gone);
        QFETCH(QStringList, stored);
        QFETCH(QStringList, kept);
        FakeAudio audio;
        ClockFake clock;
        MessageBoxesFake boxes;
        Installed<FakeSession, SessionSeam> session;
        RecordingsFolder folder;
        PortFolder ports;
        const auto line = ports.line(3);
        ScriptedModem modem(line->peerLink(), false);
        Form1& main = DefaultForm<Form1>::Show();
        main.Command3->click();
        frmMain& recorder = *DefaultForm<frmMain>::loaded();
        QTRY_COMPARE(recorder.mci->Mode(), int(mciModeRecord));
        frmMain2& query = DefaultForm<frmMain2>::Show();
        query.findChild<MMControl*>("mci2")->press(MciButton::Record);
        QStringList went;
        for (QObject* window : std::initializer_list<QObject*>{&recorder, &query, &main})
            connect(window, &QObject::destroyed, this,
                    [&went, name = QString(window->metaObject()->className())] { went << name; });
        // The audio each working file's header tells, shortest first.
        const auto onDisk = [working = QDir(workingFolder())] {
            QStringList ms;
            for (const QString& name : working.entryList(QDir::Files))
                ms << QString::number(WavProbe(working.filePath(name)).milliseconds());
            ms.sort();
            return ms;
        };
        QStringList asked;
        boxes->whileShown = [&] { asked = onDisk(); };
        audio.capture(std::chrono::milliseconds(1500));
        if (end == "挂断电话") main.Command4->click();
        if (end == "folder gone") QVERIFY(QDir(RecordingsFolder::path()).removeRecursively());
        if (signal != 0) QCOMPARE(::raise(signal), 0);
        if (end == "退出") main.Command5->click();
        if (end == "logout" || end == "checkpoint") {
            session->interaction = answer != 0;
            boxes->answers = {answer};
            emit qGuiApp->commitDataRequest(*qApp->findChild<QSessionManager*>());
            QCOMPARE(session->cancelled, answer == vbCancel);
            QCOMPARE(asked, (answer != 0 ? QStringList{"0", "1500"} : QStringList{}));
            // The session manager's "die", which follows a logout that nobody cancelled.
            QEvent quit(QEvent::Quit);
            if (end == "logout" && answer != vbCancel) QCoreApplication::sendEvent(qApp, &quit);
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTRY_COMPARE(went, gone);
        const QByteArrayList lines{"AT H1 \r", "AT H0 \r"}; // hung up once anything went
        QTRY_COMPARE(modem.commandLines(), lines.mid(0, gone.isEmpty() ? 1 : 2));
        if (!went.contains("tova::frmMain")) QCOMPARE(recorder.mci->Mode(), int(mciModeRecord));
        QCOMPARE(RecordingsFolder::files(), stored);
        for (const QString& name : stored)
            QCOMPARE(WavProbe(RecordingsFolder::file(name)).milliseconds(), 1500);
        boxes->answers = {vbNo};
        unloadAllWindows();
        // Left by the end alone: what the windows that stayed hold goes with them.
        QTRY_COMPARE(onDisk(), kept);
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
