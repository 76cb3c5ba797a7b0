#include "Fakes.h"
#include "Form1.h"
#include "PtyPair.h"
#include "RecordingsFolder.h"
#include "Windows.h"

#include <QPushButton>
#include <QSignalSpy>
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
    void init() { m_ports.emplace(); }
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
        QTest::newRow("pulled while idle") << QString() << 3 << QString();
        QTest::newRow("pulled, then answer") << "Command3" << 3 << kNotSent;
        QTest::newRow("none at the start, then dial") << "Command2" << 0 << kPortClosed;
    }
    void modemComesBack() {
        QFETCH(QString, button);
        QFETCH(int, port);
        QFETCH(QString, message);
        Form1& form = mainWindow(port, true);
        QCOMPARE(prompt(), port ? QString() : kNoModem);
        m_boxes->shown.clear();
        form.Text1->setText(QStringLiteral("123"));
        form.Command5->setFocus();
        // Pulled with no event handled since: a command learns of it from its write.
        m_modem.reset();
        m_line.reset();
        if (!button.isEmpty()) form.findChild<QPushButton*>(button)->click();
        QCOMPARE(prompt(), message);
        QCOMPARE(form.focusWidget(), form.Command5);
        if (port) QTRY_COMPARE(form.Label4->text(), QStringLiteral("MODEM已断开,正在等待重新接上"));
        QVERIFY(!form.MSComm1.PortOpen());

        plugIn(port ? port : 5, true);
        QTRY_COMPARE_WITH_TIMEOUT(form.Label4->text(), QStringLiteral("MODEM已接上,可以使用了"),
                                  3000);
        m_modem->send("\r\nRING\r\n");
        QTRY_COMPARE(form.Label1->text(), kRing);
        form.Command3->click();
        QTRY_COMPARE(m_modem->commandLines(), QByteArrayList{"AT H1 \r"});
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

    RecordingsFolder m_recordings;
    std::optional<PortFolder> m_ports;
    std::unique_ptr<PtyPair> m_line;
    std::optional<ScriptedModem> m_modem;
    MessageBoxesFake m_boxes;
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
