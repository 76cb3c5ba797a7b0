#include "CallTags.h"
#include "Fakes.h"
#include "Form1.h"
#include "MMControl.h"
#include "RecordingsFolder.h"
#include "Settings.h"
#include "Windows.h"
#include "frmMain.h"

#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace tova;
using namespace tova::test;

static const QString kPeer = QStringLiteral(TOVA_PEER);

// Caller ID from a real AT command interpreter: iaxmodem on a pseudo-terminal, rung by a small
// IAX2 peer, with a recording sound server behind the recorder.
class CallerIdTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        qputenv("TOVA_PORT_DIR", QFile::encodeName(m_config.path()));
        // The peer's folder and ports, the test's own.
        qputenv("PEER_DIR", QFile::encodeName(m_peer.path()));
        qputenv("IAX_PORT", "4770");
        qputenv("EXCH_PORT", "4769");
        QSettings(Settings::path(), QSettings::IniFormat).setValue("modem/callerId", true);
        Settings::reload();
        QVERIFY2(QFileInfo::exists(kPeer), qPrintable("no IAX2 peer at " + kPeer));
        QProcess start;
        start.start(kPeer + "/start-peer.sh");
        QVERIFY(start.waitForFinished(20000) && start.exitCode() == 0);
        const QString tty = QString::fromLocal8Bit(start.readAllStandardOutput()).trimmed();
        QVERIFY(QFile::link(QFileInfo(tty).symLinkTarget(), m_config.filePath("com3")));
    }
    void cleanupTestCase() {
        unloadAllWindows();
        QProcess::execute(kPeer + "/stop-peer.sh", {});
    }

    void callsKnowWhoWasOnTheLine() {
        RecordingsFolder folder;
        MessageBoxesFake boxes;
        Form1& form = DefaultForm<Form1>::Show();
        // The modem's reply to caller ID on is a reception, which the ring prompt shows.
        QTRY_COMPARE(form.Label1->text(), QStringLiteral("有电话请接电话"));
        QProcess ring;
        ring.start(kPeer + "/ring.sh", {"--cid-num", "13800138000", "--cid-name", "ZHANG SAN",
                                        "--ring-timeout", "30", "--hold", "20"});
        QTRY_COMPARE_WITH_TIMEOUT(form.lblCaller->text(),
                                  QStringLiteral("来电：13800138000 ZHANG SAN"), 10000);

        call(form, form.Command3);
        form.Text1->setText("123456");
        call(form, form.Command2);
        const QStringList stored = RecordingsFolder::files();
        QCOMPARE(stored.size(), 2);
        const CallInfo in = readCallTags(RecordingsFolder::file(stored[0])).call;
        QCOMPARE(QStringList({in.number, in.name, in.direction}),
                 QStringList({"13800138000", "ZHANG SAN", "呼入"}));
        const CallInfo out = readCallTags(RecordingsFolder::file(stored[1])).call;
        QCOMPARE(QStringList({out.number, out.name, out.direction}),
                 QStringList({"123456", "", "呼出"}));
    }

private:
    // A call through button, recorded for a second, then hung up.
    void call(Form1& form, QPushButton* button) {
        button->click();
        frmMain* recorder = DefaultForm<frmMain>::loaded();
        QVERIFY(recorder);
        QTRY_VERIFY_WITH_TIMEOUT(recorder->mci->Length() >= 1000, 10000);
        form.Command4->click();
    }

    QTemporaryDir m_config;
    QTemporaryDir m_peer;
};

QTEST_MAIN(CallerIdTest)
#include "tst_callerid.moc"
