#include "CallInfo.h"
#include "CallerId.h"
#include "Fakes.h"
#include "Form1.h"
#include "JournalService.h"
#include "MMControl.h"
#include "PtyPair.h"
#include "RecordingsFolder.h"
#include "Settings.h"
#include "Windows.h"
#include "frmCallLog.h"
#include "frmMain.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

using namespace tova;
using namespace tova::test;

static const QString kPickUp = QStringLiteral("请您摘下电话机准备通话");
static const QString kRing = QStringLiteral("有电话请接电话");
static const QString kRefused = QStringLiteral("这个电话号码不能拨出,请检查后重新输入!");
static const QString kNotSent = QStringLiteral("命令发送失败,请检查MODEM后重试!");
static const QString kPortClosed = QStringLiteral("MODEM的COM口没有打开,命令没有发出!");
static const QString kNoModem =
    QStringLiteral("你没有安装好MODEM卡,或COM口没有设置在正确的COM上,软件不能正常使用!");

// The main window against real pseudo-terminals with a scripted modem at the far end.
class TestForm1 : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_ports.emplace();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.emplace().path()));
        Settings::reload();
    }
    void cleanup() { unloadAllWindows(); }

    void dial_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("line"); // none when refused
        QTest::addColumn<QString>("refusal");
        const QString dialled;
        QTest::newRow("blanks, full-width")
            << "  １２３ 456  " << QByteArray("ATDT123 456;\r") << dialled;
        QTest::newRow("modifiers")
            << "9,W(0)5-1.2*#+a!B@cDpT" << QByteArray("ATDT9,W(0)5-1.2*#+a!B@cDpT;\r") << dialled;
        QTest::newRow("long") << QString(600, u'7') << "ATDT" + QByteArray(600, '7') + ";\r"
                              << dialled;
        QTest::newRow("only blanks") << "   " << QByteArray() << "请输入电话号码";
        QTest::newRow("commands after ;") << "5551234;&F&W" << QByteArray() << kRefused;
        QTest::newRow("&") << "555&1" << QByteArray() << kRefused;
        QTest::newRow("full-width ;") << "123；4" << QByteArray() << kRefused;
        QTest::newRow("other letters") << "1800FLOWERS" << QByteArray() << kRefused;
        QTest::newRow("line break") << "123\r\n4" << QByteArray() << kRefused;
    }
    void dial() {
        QFETCH(QString, typed);
        QFETCH(QByteArray, line);
        QFETCH(QString, refusal);
        Form1& form = mainWindow(3, false);
        // An old reply waits unread: a dial must not take it for the answer to itself.
        form.MSComm1.blockSignals(true);
        m_modem->send("\r\nOK\r\n");
        QTRY_COMPARE(form.MSComm1.InBufferCount(), short(6));
        form.MSComm1.blockSignals(false);
        form.Text1->setText(typed);
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(prompt(), refusal);
        QCOMPARE(form.MSComm1.InBufferCount(), short(refusal.isEmpty() ? 0 : 6));
        const QString dialling = QStringLiteral("正在拨号码 －") + typed.trimmed();
        QCOMPARE(form.Label4->text(), refusal.isEmpty() ? dialling : QString());
        // Nothing else went on the line: the hang-up line comes next.
        form.Command4->click();
        QTRY_COMPARE(m_modem->received(), line + "AT H0 \r");
    }

    void events_data() {
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<int>("pin"); // the line that changes after them
        QTest::addColumn<short>("event");
        QTest::addColumn<QString>("status");
        using P = QSerialPort;
        QTest::newRow("OK") << QByteArrayList{"\r\nOK\r\n"} << 0 << short(2) << kPickUp;
        QTest::newRow("O, K apart") << QByteArrayList{"\r\nO", "K\r\n"} << 0 << short(2) << "";
        QTest::newRow("ok") << QByteArrayList{"\r\nok\r\n"} << 0 << short(2) << "";
        QTest::newRow("CTS") << QByteArrayList() << int(P::ClearToSendSignal) << short(3) << "";
        QTest::newRow("DSR") << QByteArrayList() << int(P::DataSetReadySignal) << short(4) << "";
        QTest::newRow("CD") << QByteArrayList() << int(P::DataCarrierDetectSignal) << short(5)
                            << "";
        QTest::newRow("RI") << QByteArrayList() << int(P::RingIndicatorSignal) << short(6) << "";
    }
    void events() {
        QFETCH(QByteArrayList, reads);
        QFETCH(int, pin);
        QFETCH(short, event);
        QFETCH(QString, status);
        Form1& form = mainWindow(3, false);
        QSignalSpy events(&form.MSComm1, &MSComm::OnComm);
        for (const QByteArray& read : QByteArrayList{"\r\nRING\r\n"} + reads) {
            m_modem->send(read);
            QVERIFY(events.wait());
        }
        QTRY_COMPARE(form.Label1->text(), kRing);
        QSerialPort::PinoutSignals pins = QSerialPort::DataSetReadySignal;
        form.MSComm1.setPinSource([&pins](QSerialPort&) { return std::optional(pins); });
        // The lines are watched from the moment the port opens.
        form.MSComm1.setPortOpen(false);
        form.MSComm1.setPortOpen(true);
        pins ^= QSerialPort::PinoutSignals::fromInt(pin);
        QTRY_COMPARE(form.MSComm1.CommEvent(), event);
        QCOMPARE(form.Label4->text(), status);
        // Only a reception shows the ring prompt; any other event clears it at the next tick.
        QTRY_COMPARE(form.Label1->text(), event == comEvReceive ? kRing : QString());
    }

    void modemComesBack_data() {
        QTest::addColumn<QString>("button"); // pressed right after the modem is pulled
        QTest::addColumn<int>("port");       // 0: no modem at the start, then one on COM5
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("inCall"); // answered and recording when the modem is pulled
        QTest::newRow("pulled while idle") << QString() << 3 << QString() << false;
        QTest::newRow("pulled, then answer") << "Command3" << 3 << kNotSent << false;
        QTest::newRow("none at the start, then dial") << "Command2" << 0 << kPortClosed << false;
        QTest::newRow("pulled mid-call, then hang up") << "Command4" << 3 << kNotSent << true;
    }
    void modemComesBack() {
        QFETCH(QString, button);
        QFETCH(int, port);
        QFETCH(QString, message);
        QFETCH(bool, inCall);
        settingsFile("[modem]\ninit=ATE1\n");
        Form1& form = mainWindow(port, true);
        QCOMPARE(prompt(), port ? QString() : kNoModem);
        m_boxes->shown.clear();
        const qsizetype stored = RecordingsFolder::files().size();
        if (inCall) {
            form.Command3->click();
            QTRY_VERIFY(DefaultForm<frmMain>::loaded()->mci->Length() > 500);
        }
        form.Text1->setText(QStringLiteral("123"));
        form.Command5->setFocus();
        // Pulled with no event handled since: a command learns of it from its write.
        m_modem.reset();
        m_line.reset();
        if (!button.isEmpty()) form.findChild<QPushButton*>(button)->click();
        QCOMPARE(prompt(), message);
        QCOMPARE(form.focusWidget(), form.Command5);
        // The hang-up stores the call whether or not the modem heard it.
        QCOMPARE(DefaultForm<frmMain>::loaded(), nullptr);
        QCOMPARE(RecordingsFolder::files().size(), stored + (inCall ? 1 : 0));
        if (port) QTRY_COMPARE(form.Label4->text(), QStringLiteral("MODEM已断开,正在等待重新接上"));
        QVERIFY(!form.MSComm1.PortOpen());

        plugIn(port ? port : 5, true);
        QTRY_COMPARE_WITH_TIMEOUT(form.Label4->text(), QStringLiteral("MODEM已接上,可以使用了"),
                                  3000);
        m_modem->send("\r\nRING\r\n");
        QTRY_COMPARE(form.Label1->text(), kRing);
        form.Command3->click();
        QTRY_COMPARE(m_modem->commandLines(), (QByteArrayList{"ATE1\r", "AT H1 \r"}));
        QTRY_COMPARE(form.Label4->text(), kPickUp);
        // Once back, the modem is left alone: no reopening, no set-up again.
        QTest::qWait(1500);
        QCOMPARE(m_modem->commandLines(), (QByteArrayList{"ATE1\r", "AT H1 \r"}));
        QCOMPARE(form.Label4->text(), kPickUp);
    }

    // What the modem gets once its port is open, each line after the reply to the one before;
    // those replies are no answer to a call.
    void modemSetup_data() {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QByteArrayList>("refused");
        QTest::addColumn<int>("initTakes"); // ms the modem takes over the init line
        QTest::addColumn<bool>("inPieces"); // each reply comes in two reads
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<QString>("message"); // the bad values it names
        const QByteArrayList cid{"AT+VCID=1\r"}, rockwell{"AT+VCID=1\r", "AT#CID=1\r"};
        QTest::newRow("none") << QByteArray() << QByteArrayList() << 0 << false << QByteArrayList()
                              << "";
        QTest::newRow("init, caller ID")
            << QByteArray("[modem]\ninit=AT+GCI=B5\ncallerId=true") << QByteArrayList() << 0
            << false << QByteArrayList{"AT+GCI=B5\r", "AT+VCID=1\r"} << "";
        QTest::newRow("caller ID the Rockwell way")
            << QByteArray("[modem]\ncallerId=true") << cid << 0 << false << rockwell << "";
        QTest::newRow("ERROR in two reads")
            << QByteArray("[modem]\ncallerId=true") << cid << 0 << true << rockwell << "";
        // Its late OK answers the reset, not the next line, whose ERROR still counts.
        QTest::newRow("init answers late")
            << QByteArray("[modem]\ninit=ATZ\ncallerId=true") << cid << 3500 << false
            << QByteArrayList{"ATZ\r"} + rockwell << "";
        QTest::newRow("init lost") << QByteArray("[modem]\ninit=ATZ\ncallerId=true") << cid << -1
                                   << false << QByteArrayList{"ATZ\r"} + rockwell << "";
        QTest::newRow("bad values")
            << QByteArray("[modem]\ninit=hello\ncallerId=maybe") << QByteArrayList() << 0 << false
            << QByteArrayList() << "modem/init=hello\nmodem/callerId=maybe";
    }
    void modemSetup() {
        QFETCH(QByteArray, settings);
        QFETCH(QByteArrayList, refused);
        QFETCH(int, initTakes);
        QFETCH(bool, inPieces);
        QFETCH(QByteArrayList, lines);
        QFETCH(QString, message);
        settingsFile(settings);
        m_line = m_ports->line(3);
        m_modem.emplace(m_line->peerLink(), true);
        m_modem->refused = refused;
        m_modem->inPieces = inPieces;
        if (!lines.isEmpty()) m_modem->takes.insert(lines.first(), initTakes);
        m_boxes->shown.clear();
        Form1& form = DefaultForm<Form1>::Show();
        QVERIFY(message.isEmpty() ? m_boxes->shown.isEmpty() : prompt().endsWith(message));
        QTRY_COMPARE_WITH_TIMEOUT(m_modem->commandLines(), lines, 8000);
        QVERIFY(!QTest::qWaitFor([&] { return !form.Label4->text().isEmpty(); }, 500));
        form.Command3->click();
        QTRY_COMPARE(m_modem->commandLines().size(), lines.size() + 1);
        QTRY_COMPARE(form.Label4->text(), kPickUp);
    }

    // A command line goes out as one line or not at all: only its last character may end it.
    void commandLines_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("sent"); // nothing when refused
        QTest::newRow("hang-up") << "AT H0 \r" << QByteArray("AT H0 \r");
        QTest::newRow("full-width") << "ＡＴＤＴ１２３；\r" << QByteArray("ATDT123;\r");
        QTest::newRow("a second line") << "AT\rATZ\r" << QByteArray();
        QTest::newRow("line feed") << "ATDT123\n;\r" << QByteArray();
        QTest::newRow("escape") << "AT\x1b\r" << QByteArray();
        QTest::newRow("no ASCII form") << "ATDT王\r" << QByteArray();
    }
    void commandLines() {
        QFETCH(QString, text);
        QFETCH(QByteArray, sent);
        Form1& form = mainWindow(3, false);
        bool refused = false;
        try {
            form.MSComm1.setOutput(text);
        } catch (const SerialPortError&) {
            refused = true;
        }
        QCOMPARE(refused, sent.isEmpty());
        form.MSComm1.setOutput("AT\r");
        QTRY_COMPARE(m_modem->received(), sent + "AT\r");
    }

    // Caller ID comes out the same wherever the reads split it, and no part of a report is
    // left for the reply rules.
    void callerIdSplits_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("rest"); // what the reply rules see, blanks left out
        const auto row = [](const char* tag, const char* stream, QString number, QString name,
                            QString rest) {
            QTest::newRow(tag) << QByteArray(stream) << number << name << rest;
        };
        row("blanks",
            "\r\nDATE = 0315\r\nTIME = 1405\r\nNMBR = 13800138000\r\nNAME = ZHANG SAN\r\n\r\nRING\r\n",
            "13800138000", "ZHANG SAN", "RING");
        row("no blanks",
            "\r\nRING\r\n\r\nDATE=0315\r\nTIME=1405\r\nNMBR=5551234\r\nNAME=BROOKS\r\n\r\nRING\r\n",
            "5551234", "BROOKS", "RINGRING");
        row("withheld, MESG", "\r\nMESG = 0102\r\nNMBR = P\r\n\r\nRING\r\n", "号码保密", "", "RING");
        row("then OK", "\r\nNMBR = 1\r\n\r\nOK\r\n", "1", "", "OK");
    }
    void callerIdSplits() {
        QFETCH(QByteArray, stream);
        QFETCH(QString, number);
        QFETCH(QString, name);
        QFETCH(QString, rest);
        const QString text = QString::fromLatin1(stream);
        QList<QStringList> readings{{}}; // every split in two, and one character a read
        for (qsizetype at = 1; at < text.size(); ++at)
            readings.append({text.first(at), text.sliced(at)});
        for (const QChar c : text)
            readings.first().append(c);
        for (const QStringList& reads : readings) {
            CallerIdReader reader;
            QString passedOn;
            for (const QString& read : reads)
                passedOn += reader.take(read);
            const QString where = reads.size() == 2 ? reads.first() : QStringLiteral("bytes");
            QVERIFY2(reader.number() == number && reader.name() == name, qPrintable(where));
            QCOMPARE(passedOn.simplified().remove(u' '), rest);
        }
    }

    // Caller ID reports in both orders and styles: shown while the phone rings, never taken
    // for a modem reply, kept through the call answered and given to its recorder.
    void callerId_data() {
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<QString>("caller");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("wait"); // ms after the answer, or after the last ring if negative
        const QByteArray ring = "\r\nRING\r\n";
        const auto row = [&](const char* name, QByteArrayList reads, QString caller,
                             QString status = "", int wait = 0) {
            QTest::newRow(name) << reads << caller << status << wait;
        };
        row("before the first RING",
            {"\r\nDATE = 0315\r\nTIME = 1405\r\nNMBR = 13800138000\r\nNAME = ZHANG SAN\r\n", ring},
            "来电：13800138000 ZHANG SAN", "", 7500);
        row("after it, no blanks", {ring, "\r\nDATE=0315\r\nTIME=1405\r\nNMBR=5551234\r\nNAME=BROOKS\r\n"},
            "来电：5551234 BROOKS");
        row("withheld", {"\r\nNMBR = P\r\n", ring}, "来电：号码保密");
        row("unavailable, MESG, no NAME", {"\r\nMESG = 0102\r\nNMBR = O\r\n", ring},
            "来电：号码不详");
        row("split over reads", {"\r\nNMBR=12\r\nNAME=BRO", "OKS\r\n", ring}, "来电：12 BROOKS");
        row("untrusted", {"\r\nNMBR=1\x07" "2\r\nNAME=<i>WANG</i> " + QByteArray(40, 'X') + "\r\n"},
            "来电：12 <i>WANG</i> " + QString(20, u'X'));
        row("a later report replaces", {"\r\nNMBR=111\r\n", ring, "\r\nNMBR=222\r\n", ring},
            "来电：222");
        row("no report", {ring, ring}, "");
        row("then the reply", {"\r\nNMBR=1\r\n", "\r\nOK\r\n"}, "来电：1", kPickUp);
        // A local caller ID, the phonebook's number with its area code: its name first.
        row("rings stop, a contact", {"\r\nNMBR=88886666\r\nNAME=ZHANG SAN\r\n", ring},
            "来电：88886666 张三 ZHANG SAN", "", -7000);
    }
    void callerId() {
        QFETCH(QByteArrayList, reads);
        QFETCH(QString, caller);
        QFETCH(QString, status);
        QFETCH(int, wait);
        JournalService& journal = JournalService::instance();
        if (wait < 0) {
            journal.write([](Journal& j) { j.addContacts({{0, "张三", {"010 8888 6666"}, {}}}); });
            QTRY_COMPARE(journal.contactName("01088886666"), "张三");
            // What earlier rows left ringing has been seen.
            DefaultForm<frmCallLog>::Show();
            unloadAllWindows();
            QTRY_COMPARE(journal.missedCount(), 0);
        }
        Form1& form = mainWindow(3, false);
        QSignalSpy events(&form.MSComm1, &MSComm::OnComm);
        for (const QByteArray& read : reads) {
            m_modem->send(read);
            QVERIFY(events.wait());
        }
        QCOMPARE(form.lblCaller->text(), caller);
        QCOMPARE(form.Label4->text(), status);
        if (wait < 0) {
            QTest::qWait(-wait);
            QCOMPARE(form.lblCaller->text(), caller);
            QVERIFY(!form.cmdMissed->isVisible());
            QTRY_COMPARE_WITH_TIMEOUT(form.lblCaller->text(), QString(), 2000);
            // The missed call, counted until the call log is opened on it.
            QTRY_VERIFY(form.cmdMissed->isVisible());
            QCOMPARE(form.cmdMissed->text(), "未接来电：1");
            QCOMPARE(form.cmdMissed->geometry(), QRect(8, 264, 177, 33));
            QTest::mouseClick(form.cmdMissed, Qt::LeftButton);
            frmCallLog* log = DefaultForm<frmCallLog>::loaded();
            QVERIFY(log);
            QCOMPARE(log->findChild<QComboBox*>("cboDirection")->currentText(), "未接");
            const QAbstractItemModel* rows = log->findChild<QTableView*>("grdCalls")->model();
            QTRY_COMPARE(rows->index(0, int(CallLogColumn::Name)).data().toString(),
                         "张三 ZHANG SAN");
            QTRY_VERIFY(!form.cmdMissed->isVisible());
            return;
        }
        form.Command3->click();
        const QStringList who = caller.mid(3).split(u' ');
        QCOMPARE(currentCall().number, caller.isEmpty() ? QString() : who.first());
        QCOMPARE(currentCall().name, who.mid(1).join(u' '));
        QCOMPARE(currentCall().direction, kIncoming);
        QTest::qWait(wait);
        QCOMPARE(form.lblCaller->text(), caller);
        form.Command4->click();
        QCOMPARE(form.lblCaller->text(), QString());
        if (wait == 0) return;
        // The stored call joins its ring sequence in the journal.
        const auto journalled = [&] {
            const CallLogRow row = Journal(RecordingsFolder::path())
                                       .callLog({who.first(), {}, {}, {}, 0}, {}, 0, 1)
                                       .rows.value(0);
            return QStringList{row.direction, QString::number(row.rings), row.callerName,
                               row.hasRecording() ? "recorded" : "no recording"};
        };
        QTRY_COMPARE(journalled(), (QStringList{kIncoming, "1", who.mid(1).join(u' '), "recorded"}));
    }

    // Noise that never ends a line is passed on, not held and copied at every read.
    void callerIdNoise() {
        CallerIdReader reader;
        qsizetype passedOn = 0;
        for (int i = 0; i < 1000; ++i)
            passedOn += reader.take(QStringLiteral("XY=")).size();
        QVERIFY(passedOn >= 3000 - 128);
        QVERIFY(reader.take(QStringLiteral("\r\nNMBR=7\r\n")).simplified().isEmpty());
        QCOMPARE(reader.number(), QStringLiteral("7"));
    }

private:
    // The window loaded with a modem on COM<port>, or with none at all when port is 0.
    Form1& mainWindow(int port, bool answering) {
        port ? plugIn(port, answering) : m_ports->noModem();
        m_boxes->shown.clear();
        return DefaultForm<Form1>::Show();
    }
    void plugIn(int port, bool answering) {
        m_line = m_ports->line(port);
        m_modem.emplace(m_line->peerLink(), answering);
        QVERIFY(m_line->isReady() && m_modem->isOpen());
    }
    QString prompt() const { return m_boxes->shown.isEmpty() ? "" : m_boxes->shown.last().prompt; }
    void settingsFile(const QByteArray& text) {
        QDir().mkpath(QFileInfo(Settings::path()).path());
        QFile file(Settings::path());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        file.close();
        Settings::reload();
    }

    RecordingsFolder m_recordings;
    std::optional<QTemporaryDir> m_config;
    std::optional<PortFolder> m_ports;
    std::unique_ptr<PtyPair> m_line;
    std::optional<ScriptedModem> m_modem;
    MessageBoxesFake m_boxes;
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
