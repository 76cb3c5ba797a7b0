#include "Desktop.h"
#include "Fakes.h"
#include "Form1.h"
#include "PtyPair.h"
#include "Windows.h"
#include "frmMain.h"
#include "frmMain2.h"

#include <QDesktopServices>
#include <QDir>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace tova;
using namespace tova::test;

namespace {

const QString kPickUp = QStringLiteral("请您摘下电话机准备通话");
const QString kRing = QStringLiteral("有电话请接电话");

class FakeDesktop : public Desktop {
public:
    bool openUrl(const QUrl&) override { return false; }
    QPoint cursorPos() const override { return cursor; }
    QPoint cursor;
};

// Receives what the desktop hands to the browser.
class BrowserStandIn : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

// True once bytes wait in the program's end of the line, without taking them.
bool waitForUnread(const QString& link) {
    const int fd = ::open(QFile::encodeName(QFileInfo(link).symLinkTarget()), O_RDONLY | O_NOCTTY);
    pollfd watched{fd, POLLIN, 0};
    const bool unread = fd >= 0 && ::poll(&watched, 1, 5000) == 1;
    ::close(fd);
    return unread;
}

} // namespace

// The main window against a real pseudo-terminal with a scripted modem at its far end.
class TestForm1 : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // The recorder opened by the call commands stores its recording here when it closes.
        QVERIFY(QDir().mkpath(recordingsFolder()));
        m_recordingsBefore = QDir(recordingsFolder()).entryList(QDir::Files);
    }
    void cleanupTestCase() {
        QDir folder(recordingsFolder());
        for (const QString& name : folder.entryList(QDir::Files))
            if (!m_recordingsBefore.contains(name)) folder.remove(name);
    }
    void init() { startModem(true); }
    void cleanup() {
        unloadAllWindows();
        m_modem.reset();
        m_line.reset();
        m_ports.reset();
        m_boxes->shown.clear();
    }

    void commandLines_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("recorderOpen");
        QTest::newRow("dial") << "Command2" << QByteArray("ATDT123 456;\r")
                              << QStringLiteral("正在拨号码 －123 456") << true;
        QTest::newRow("answer") << "Command3" << QByteArray("AT H1 \r") << QString() << true;
        QTest::newRow("hang up without a recorder")
            << "Command4" << QByteArray("AT H0 \r") << QStringLiteral("通话结束") << false;
    }
    void commandLines() {
        QFETCH(QString, button);
        QFETCH(QByteArray, line);
        QFETCH(QString, status);
        QFETCH(bool, recorderOpen);
        Form1& form = mainWindow();
        form.Text1->setText(QStringLiteral("  123 456  "));
        QTest::mouseClick(form.findChild<QPushButton*>(button), Qt::LeftButton);

        QCOMPARE(form.Label4->text(), status);
        QCOMPARE(DefaultForm<frmMain>::loaded() != nullptr, recorderOpen);
        QTRY_COMPARE(m_modem->received(), line);
        QTRY_COMPARE(form.Label4->text(), kPickUp);
        QVERIFY(m_boxes->shown.isEmpty());
    }

    void dialThrowsAwayWhatCameBefore() {
        startModem(false);
        Form1& form = mainWindow();
        form.Text1->setText(QStringLiteral("123"));
        // An old reply waits in the terminal, not yet read by the window.
        m_modem->send("\r\nOK\r\n");
        QVERIFY(waitForUnread(m_line->programLink()));
        form.Command2->click();

        QSignalSpy events(&form.MSComm1, &MSComm::OnComm);
        m_modem->send("\r\nRING\r\n");
        QVERIFY(events.wait());
        QCOMPARE(form.Label4->text(), QStringLiteral("正在拨号码 －123"));
        QTRY_COMPARE(m_modem->received(), QByteArray("ATDT123;\r"));
    }

    void numberNotDialled_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("empty") << QString() << QStringLiteral("请输入电话号码");
        QTest::newRow("pasted line break with a second command")
            << QStringLiteral("123\r\nATH1")
            << QStringLiteral("这个电话号码不能拨出,请检查后重新输入!");
    }
    void numberNotDialled() {
        QFETCH(QString, number);
        QFETCH(QString, prompt);
        Form1& form = mainWindow();
        form.Text1->setText(number);
        form.Command5->setFocus();

        QTest::mouseClick(form.Command2, Qt::LeftButton);
        verifyOneBox(prompt);
        QCOMPARE(form.focusWidget(), form.Text1);
        QVERIFY(!DefaultForm<frmMain>::loaded());
        // Nothing went on the line before: the next bytes are the hang-up line.
        form.Command4->click();
        QTRY_COMPARE(m_modem->received(), QByteArray("AT H0 \r"));
    }

    void replies_data() {
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<QString>("status");
        QTest::newRow("OK between line breaks") << QByteArrayList{"\r\nOK\r\n"} << kPickUp;
        QTest::newRow("OK inside the echo of a command")
            << QByteArrayList{"ATDT123;\r\r\nOK\r\n"} << kPickUp;
        QTest::newRow("lower case") << QByteArrayList{"\r\nok\r\n"} << QString();
        QTest::newRow("O and K in two reads")
            << QByteArrayList{"\r\nRING\r\nO", "K\r\n"} << QString();
    }
    void replies() {
        QFETCH(QByteArrayList, reads);
        QFETCH(QString, status);
        Form1& form = mainWindow();
        QSignalSpy events(&form.MSComm1, &MSComm::OnComm);
        for (const QByteArray& read : reads) {
            m_modem->send(read);
            QVERIFY(events.wait());
        }
        QCOMPARE(form.Label4->text(), status);
        QCOMPARE(form.MSComm1.InBufferCount(), short(0));
    }

    void ringPromptFollowsTheLastEvent() {
        Form1& form = mainWindow();
        QSignalSpy events(&form.MSComm1, &MSComm::OnComm);
        m_modem->send("\r\nRING\r\n");
        QVERIFY(events.wait());
        // One tick of the 100 ms timer, with room for a busy machine.
        QTRY_COMPARE_WITH_TIMEOUT(form.Label1->text(), kRing, 250);
        // Answering empties the prompt; the last event is still a reception, so it comes back.
        form.Command3->click();
        QCOMPARE(form.Label1->text(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(form.Label1->text(), kRing, 250);
        // The cable is pulled: an event of another kind clears the prompt at the next tick.
        m_line->kill();
        QTRY_VERIFY(form.MSComm1.CommEvent() != comEvReceive);
        QTRY_COMPARE_WITH_TIMEOUT(form.Label1->text(), QString(), 250);
    }

    void twiceLoadsOnceAndExitLeavesTheOthers() {
        Form1& form = mainWindow();
        for (int i = 0; i < 2; ++i) {
            form.Command3->click();
            QTest::mouseClick(form.Command1, Qt::LeftButton);
        }
        QPointer<frmMain> recorder = DefaultForm<frmMain>::loaded();
        QPointer<frmMain2> query = DefaultForm<frmMain2>::loaded();
        QVERIFY(recorder && recorder->isVisible() && query && query->isVisible());
        QCOMPARE(Form::loadedCount(), 3);
        QTRY_COMPARE(m_modem->commandLines(), (QByteArrayList{"AT H1 \r", "AT H1 \r"}));

        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QVERIFY(!DefaultForm<Form1>::loaded());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(recorder && recorder->isVisible() && query && query->isVisible());
        QVERIFY(PortHolder(m_line->programLink()).holding());
    }

    void closedPortTellsTheUser_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("unplugged");
        QTest::newRow("dial, no modem found") << "Command2" << false;
        QTest::newRow("answer, modem unplugged") << "Command3" << true;
    }
    void closedPortTellsTheUser() {
        QFETCH(QString, button);
        QFETCH(bool, unplugged);
        if (!unplugged) startWithoutModem();
        Form1& form = mainWindow();
        if (unplugged) {
            m_line->kill();
            QTRY_VERIFY(!form.MSComm1.PortOpen());
        }
        m_boxes->shown.clear();
        form.Text1->setText(QStringLiteral("123"));

        QTest::mouseClick(form.findChild<QPushButton*>(button), Qt::LeftButton);
        verifyOneBox(QStringLiteral("MODEM的COM口没有打开,命令没有发出!"));
        QCOMPARE(form.Label4->text(), QString()); // the command ended at the write
        QVERIFY(!DefaultForm<frmMain>::loaded());
        // The window runs on.
        QTRY_COMPARE(form.Text7->text(), QString::number(QCursor::pos().x()));
    }

    void webChannelGoesToTheBrowser() {
        BrowserStandIn browser;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
        QTest::mouseClick(mainWindow().Command7, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(browser.opened, QList<QUrl>{QUrl(Form1::kGameChannelUrl)});
    }

    void cursorAndClock() {
        Installed<FakeDesktop, DesktopSeam> desktop;
        desktop->cursor = QPoint(-1280, -7); // a screen left of and above the primary
        ClockFake time;
        time->timeOfDayFormat = QStringLiteral("h:mm:ss AP");

        Form1& form = mainWindow();
        QCOMPARE(form.Text7->text(), QStringLiteral("Text7"));
        QTRY_COMPARE(form.Label5->text(), QStringLiteral("2:05:09 PM"));
        QCOMPARE(form.Text7->text(), QStringLiteral("-1280"));
        QCOMPARE(form.Text8->text(), QStringLiteral("-7"));
        // What the user types there lasts one tick at most.
        QTest::keyClicks(form.Text8, QStringLiteral("99"));
        QTRY_COMPARE_WITH_TIMEOUT(form.Text8->text(), QStringLiteral("-7"), 250);
    }

    void realCursorPosition() {
        Form1& form = mainWindow();
        QCursor::setPos(37, 21);
        QTRY_COMPARE(form.Text7->text(), QStringLiteral("37"));
        QCOMPARE(form.Text8->text(), QStringLiteral("21"));
    }

private:
    Form1& mainWindow() { return DefaultForm<Form1>::Show(); }
    void startModem(bool answering) {
        m_modem.reset();
        if (!m_ports) m_ports.emplace();
        if (!m_line) m_line = m_ports->line(3);
        QVERIFY(m_line->isReady());
        m_modem.emplace(m_line->peerLink(), answering);
        QVERIFY(m_modem->isOpen());
    }
    void startWithoutModem() {
        m_modem.reset();
        m_line.reset();
        m_ports->noModem();
    }
    void verifyOneBox(const QString& prompt) {
        QCOMPARE(m_boxes->shown.size(), 1);
        QCOMPARE(m_boxes->shown[0].prompt, prompt);
        QCOMPARE(m_boxes->shown[0].style, int(vbOKOnly));
        QCOMPARE(m_boxes->shown[0].title, QStringLiteral("TOVA电话录音系统V1.0"));
    }

    QStringList m_recordingsBefore;
    std::optional<PortFolder> m_ports;
    std::unique_ptr<PtyPair> m_line;
    std::optional<ScriptedModem> m_modem;
    MessageBoxesFake m_boxes;
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
