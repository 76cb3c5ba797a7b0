#include "Desktop.h"
#include "Fakes.h"
#include "Form1.h"
#include "PtyPair.h"
#include "frmMain.h"
#include "frmMain2.h"

#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
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
const QString kPortClosed = QStringLiteral("MODEM的COM口没有打开,命令没有发出!");
const QString kNumberRefused = QStringLiteral("这个电话号码不能拨出,请检查后重新输入!");
const QString kTitle = QStringLiteral("TOVA电话录音系统V1.0");

class FakeDesktop : public Desktop {
public:
    bool openUrl(const QUrl& url) override {
        opened.append(url);
        return false;
    }
    QPoint cursorPos() const override { return cursor; }

    QList<QUrl> opened;
    QPoint cursor;
};
using DesktopFake = Installed<FakeDesktop, DesktopSeam>;

// Receives what the desktop hands to the browser for one URL scheme.
class BrowserStandIn : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

// Watches the program's end of the line without taking anything from it.
class LineWatch {
public:
    explicit LineWatch(const QString& path)
        : m_fd(::open(QFile::encodeName(QFileInfo(path).symLinkTarget()), O_RDONLY | O_NOCTTY)) {}
    ~LineWatch() { ::close(m_fd); }
    bool isOpen() const { return m_fd >= 0; }
    // True once bytes wait in the terminal for the program to read.
    bool waitForUnread(int ms) const {
        pollfd watched{m_fd, POLLIN, 0};
        return ::poll(&watched, 1, ms) == 1;
    }

private:
    int m_fd;
};

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
    void init() {
        m_boxes->shown.clear();
        m_ports.emplace();
        qputenv("TOVA_PORT_DIR", m_ports->path().toLocal8Bit());
        m_line.emplace(m_ports->filePath("com3"), m_ports->filePath("modem"));
        QVERIFY(m_line->isReady());
        m_modem.emplace(m_line->peerLink());
        QVERIFY(m_modem->isOpen());
    }
    void cleanup() {
        DefaultForm<frmMain>::Unload();
        DefaultForm<frmMain2>::Unload();
        DefaultForm<Form1>::Unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_modem.reset();
        m_line.reset();
        m_ports.reset();
    }

    void commandLines_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("recorderOpen");
        QTest::newRow("dial, outer blanks trimmed, inner kept")
            << "Command2"
            << "  123 456  " << QByteArray("ATDT123 456;\r")
            << QStringLiteral("正在拨号码 －123 456") << true;
        QTest::newRow("dial, full-width digits folded on the line")
            << "Command2" << QStringLiteral("０１０－８８") << QByteArray("ATDT010-88;\r")
            << QStringLiteral("正在拨号码 －０１０－８８") << true;
        QTest::newRow("answer") << "Command3"
                                << "555" << QByteArray("AT H1 \r") << QString() << true;
        QTest::newRow("hang up without a recorder")
            << "Command4"
            << "555" << QByteArray("AT H0 \r") << QStringLiteral("通话结束") << false;
    }
    void commandLines() {
        QFETCH(QString, button);
        QFETCH(QString, number);
        QFETCH(QByteArray, line);
        QFETCH(QString, status);
        QFETCH(bool, recorderOpen);
        Form1& form = mainWindow();
        form.Text1->setText(number);
        QTest::mouseClick(form.findChild<QPushButton*>(button), Qt::LeftButton);

        QCOMPARE(form.Label4->text(), status);
        QCOMPARE(DefaultForm<frmMain>::loaded() != nullptr, recorderOpen);
        if (recorderOpen) QVERIFY(DefaultForm<frmMain>::loaded()->isVisible());
        QTRY_COMPARE(m_modem->received(), line);
        // The modem's "OK" to any command asks the user to pick up.
        QTRY_COMPARE(form.Label4->text(), kPickUp);
        QVERIFY(m_boxes->shown.isEmpty());
    }

    void dialThrowsAwayWhatCameBefore() {
        m_modem.emplace(m_line->peerLink(), false);
        QVERIFY(m_modem->isOpen());
        LineWatch watch(m_line->programLink());
        QVERIFY(watch.isOpen());
        Form1& form = mainWindow();
        form.Text1->setText(QStringLiteral("123"));

        // An old reply waits in the terminal, not yet read by the window.
        m_modem->send("\r\nOK\r\n");
        QVERIFY(watch.waitForUnread(5000));
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
        const QString empty = QStringLiteral("请输入电话号码");
        QTest::newRow("empty") << QString() << empty;
        QTest::newRow("blanks only") << QStringLiteral("   ") << empty;
        QTest::newRow("pasted line break with a second command")
            << QStringLiteral("123\r\nATH1") << kNumberRefused;
        QTest::newRow("no ASCII form") << QStringLiteral("一二三") << kNumberRefused;
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
        QCOMPARE(form.Text1->text(), number);
        QCOMPARE(form.Label4->text(), QString());
        QVERIFY(!DefaultForm<frmMain>::loaded());
        // Nothing went on the line before: the next bytes are the hang-up line.
        form.Command4->click();
        QTRY_VERIFY(!m_modem->commandLines().isEmpty());
        QCOMPARE(m_modem->commandLines().first(), QByteArray("AT H0 \r"));
    }

    void replies_data() {
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<QString>("status");
        QTest::newRow("OK between line breaks") << QByteArrayList{"\r\nOK\r\n"} << kPickUp;
        QTest::newRow("OK inside the echo of a command")
            << QByteArrayList{"ATDT123;\r\r\nOK\r\n"} << kPickUp;
        QTest::newRow("ring only") << QByteArrayList{"\r\nRING\r\n"} << QString();
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

    void answerOrQueryTwiceLoadsOnce() {
        Form1& form = mainWindow();
        form.Command3->click();
        QTest::mouseClick(form.Command1, Qt::LeftButton);
        frmMain* recorder = DefaultForm<frmMain>::loaded();
        frmMain2* query = DefaultForm<frmMain2>::loaded();
        QVERIFY(recorder && query);
        QVERIFY(recorder->isVisible() && query->isVisible());
        const int loaded = Form::loadedCount();

        form.Command3->click();
        QTest::mouseClick(form.Command1, Qt::LeftButton);
        QCOMPARE(DefaultForm<frmMain>::loaded(), recorder);
        QCOMPARE(DefaultForm<frmMain2>::loaded(), query);
        QCOMPARE(Form::loadedCount(), loaded);
        QTRY_COMPARE(m_modem->commandLines(), (QByteArrayList{"AT H1 \r", "AT H1 \r"}));
    }

    void exitLeavesOtherWindowsAndFreesThePort() {
        Form1& form = mainWindow();
        form.Command3->click();
        form.Command1->click();
        QPointer<frmMain> recorder = DefaultForm<frmMain>::loaded();
        QPointer<frmMain2> query = DefaultForm<frmMain2>::loaded();
        QVERIFY(recorder && query);

        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QVERIFY(!DefaultForm<Form1>::loaded());
        QVERIFY(!form.isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(recorder && recorder->isVisible());
        QVERIFY(query && query->isVisible());
        QVERIFY(PortHolder(m_line->programLink()).holding());
    }

    void closedPortTellsTheUser_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("vanished");
        QTest::newRow("dial, no modem found") << "Command2" << false;
        QTest::newRow("answer, no modem found") << "Command3" << false;
        QTest::newRow("hang up, no modem found") << "Command4" << false;
        QTest::newRow("dial, modem unplugged") << "Command2" << true;
        QTest::newRow("answer, modem unplugged") << "Command3" << true;
    }
    void closedPortTellsTheUser() {
        QFETCH(QString, button);
        QFETCH(bool, vanished);
        if (!vanished) startWithoutModem();
        Form1& form = mainWindow();
        if (vanished) {
            QVERIFY(form.MSComm1.PortOpen());
            m_line->kill();
            QTRY_VERIFY(!form.MSComm1.PortOpen());
        }
        m_boxes->shown.clear();
        form.Text1->setText(QStringLiteral("123"));

        QTest::mouseClick(form.findChild<QPushButton*>(button), Qt::LeftButton);
        verifyOneBox(kPortClosed);
        QCOMPARE(form.Label4->text(), QString()); // the command ended at the write
        QVERIFY(!DefaultForm<frmMain>::loaded());
        // The window runs on.
        QVERIFY(DefaultForm<Form1>::loaded());
        QTRY_COMPARE(form.Text7->text(), QString::number(QCursor::pos().x()));
    }

    void webChannelGoesToTheBrowser() {
        startWithoutModem();
        BrowserStandIn browser;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
        Form1& form = mainWindow();
        QTest::mouseClick(form.Command7, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(browser.opened, QList<QUrl>{QUrl(Form1::kGameChannelUrl)});

        // No browser takes it: nothing of the window's own shows.
        DesktopFake desktop;
        m_boxes->shown.clear();
        form.Command7->click();
        QCOMPARE(desktop->opened, QList<QUrl>{QUrl(Form1::kGameChannelUrl)});
        QVERIFY(m_boxes->shown.isEmpty());
    }

    void cursorAndClock_data() {
        QTest::addColumn<QPoint>("cursor");
        QTest::addColumn<QString>("timeFormat");
        QTest::addColumn<QString>("clock");
        QTest::newRow("screen left of and above the primary") << QPoint(-1280, -7) << "HH:mm:ss"
                                                              << "14:05:09";
        QTest::newRow("twelve-hour format") << QPoint(1919, 1079) << "h:mm:ss AP"
                                            << "2:05:09 PM";
    }
    void cursorAndClock() {
        QFETCH(QPoint, cursor);
        QFETCH(QString, timeFormat);
        QFETCH(QString, clock);
        DesktopFake desktop;
        desktop->cursor = cursor;
        ClockFake time;
        time->timeOfDayFormat = timeFormat;

        Form1& form = mainWindow();
        QCOMPARE(form.Text7->text(), QStringLiteral("Text7"));
        QTRY_COMPARE(form.Label5->text(), clock);
        QCOMPARE(form.Text7->text(), QString::number(cursor.x()));
        QCOMPARE(form.Text8->text(), QString::number(cursor.y()));
        QCOMPARE(form.CursorPos, cursor);
        // What the user types there lasts one tick at most.
        QTest::keyClicks(form.Text8, QStringLiteral("99"));
        QTRY_COMPARE_WITH_TIMEOUT(form.Text8->text(), QString::number(cursor.y()), 250);
    }

    void realCursorPosition() {
        Form1& form = mainWindow();
        QCursor::setPos(37, 21);
        QTRY_COMPARE(form.Text7->text(), QStringLiteral("37"));
        QCOMPARE(form.Text8->text(), QStringLiteral("21"));
        QCursor::setPos(-15, 4);
        QTRY_COMPARE(form.Text7->text(), QStringLiteral("-15"));
    }

private:
    Form1& mainWindow() { return DefaultForm<Form1>::Show(); }
    void startWithoutModem() {
        m_modem.reset();
        m_line.reset();
        for (int port = 3; port <= 9; ++port)
            QFile::link(m_ports->filePath("nothing"),
                        m_ports->filePath(QStringLiteral("com%1").arg(port)));
    }
    void verifyOneBox(const QString& prompt) {
        QCOMPARE(m_boxes->shown.size(), 1);
        QCOMPARE(m_boxes->shown[0].prompt, prompt);
        QCOMPARE(m_boxes->shown[0].style, int(vbOKOnly));
        QCOMPARE(m_boxes->shown[0].title, kTitle);
    }

    QStringList m_recordingsBefore;
    std::optional<QTemporaryDir> m_ports;
    std::optional<PtyPair> m_line;
    std::optional<ScriptedModem> m_modem;
    MessageBoxesFake m_boxes;
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
