#include "MSComm.h"
#include "PtyPair.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tova;
using tova::test::PtyPair;
using tova::test::ScriptedModem;

// The serial-port component against a real pseudo-terminal with a silent modem on the far end.
class TestMSComm : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commandLineBytes_data();
    void commandLineBytes();
    void bytesArriveExactly();
    void refusedTextWritesNothing_data();
    void refusedTextWritesNothing();
    void receptionRaisesOnCommAndInputEmptiesBuffer();
    void inBufferCountZeroDiscardsUnread();
    void missingPortFailsToOpen();
    void portHeldByAnotherProcessFailsToOpen();
    void closedPortRefusesWrites();
    void vanishedDeviceClosesPortWithoutBusyLoop();

private:
    void openCom3();

    std::unique_ptr<QTemporaryDir> m_ports;
    std::unique_ptr<PtyPair> m_line;
    std::unique_ptr<ScriptedModem> m_modem;
    std::unique_ptr<MSComm> m_comm;
};

void TestMSComm::init()
{
    m_ports = std::make_unique<QTemporaryDir>();
    qputenv("TOVA_PORT_DIR", m_ports->path().toLocal8Bit());
    m_line = std::make_unique<PtyPair>(m_ports->filePath("com3"), m_ports->filePath("modem"));
    QVERIFY(m_line->isReady());
    m_modem = std::make_unique<ScriptedModem>(m_line->peerLink(), false);
    QVERIFY(m_modem->isOpen());
    m_comm = std::make_unique<MSComm>();
}

void TestMSComm::cleanup()
{
    m_comm.reset();
    m_modem.reset();
    m_line.reset();
    m_ports.reset();
}

void TestMSComm::openCom3()
{
    m_comm->setCommPort(3);
    m_comm->setPortOpen(true);
    QVERIFY(m_comm->PortOpen());
}

void TestMSComm::commandLineBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("answer") << QStringLiteral("AT H1 \r") << QByteArray("AT H1 \r");
    QTest::newRow("full-width digits")
        << QStringLiteral("ATDT１２３ ４５６;\r") << QByteArray("ATDT123 456;\r");
    QTest::newRow("full-width letters and comma")
        << QStringLiteral("ATDT９，１２Ａ;\r") << QByteArray("ATDT9,12A;\r");
}

void TestMSComm::commandLineBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(tova::commandLineBytes(text), bytes);
}

void TestMSComm::bytesArriveExactly()
{
    openCom3();
    m_comm->setOutput(QStringLiteral("ATDT１２３ 456;\r"));
    QTRY_COMPARE(m_modem->received(), QByteArray("ATDT123 456;\r"));
}

void TestMSComm::refusedTextWritesNothing_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("pasted line break") << QStringLiteral("ATDT123\r\nATH0;\r");
    QTest::newRow("carriage return inside") << QStringLiteral("ATDT1\rATZ;\r");
    QTest::newRow("tab") << QStringLiteral("ATDT1\t2;\r");
    QTest::newRow("escape") << QStringLiteral("ATDT\x1b" "12;\r");
    QTest::newRow("delete") << QStringLiteral("ATDT1\x7f;\r");
    QTest::newRow("chinese") << QStringLiteral("ATDT电话;\r");
    QTest::newRow("accented") << QStringLiteral("ATDTé;\r");
}

void TestMSComm::refusedTextWritesNothing()
{
    QFETCH(QString, text);
    openCom3();
    QVERIFY_THROWS_EXCEPTION(SerialPortError, m_comm->setOutput(text));
    // A later line arriving alone shows that the refused one left nothing on the line.
    m_comm->setOutput(QStringLiteral("AT H0 \r"));
    QTRY_COMPARE(m_modem->received(), QByteArray("AT H0 \r"));
}

void TestMSComm::receptionRaisesOnCommAndInputEmptiesBuffer()
{
    openCom3();
    QCOMPARE(m_comm->CommEvent(), short(comEvNone));
    QSignalSpy events(m_comm.get(), &MSComm::OnComm);
    m_modem->send("\r\nRING\r\n");
    QTRY_COMPARE(m_comm->InBufferCount(), short(8));
    QVERIFY(events.count() >= 1);
    QCOMPARE(m_comm->CommEvent(), short(comEvReceive));
    QCOMPARE(m_comm->Input(), QStringLiteral("\r\nRING\r\n"));
    QCOMPARE(m_comm->Input(), QString());
    QCOMPARE(m_comm->CommEvent(), short(comEvReceive));
}

void TestMSComm::inBufferCountZeroDiscardsUnread()
{
    openCom3();
    m_modem->send("NO CARRIER\r\n");
    QTRY_COMPARE(m_comm->InBufferCount(), short(12));
    m_comm->setInBufferCount(0);
    QCOMPARE(m_comm->InBufferCount(), short(0));
    m_modem->send("OK\r\n");
    QTRY_COMPARE(m_comm->InBufferCount(), short(4));
    QCOMPARE(m_comm->Input(), QStringLiteral("OK\r\n"));
}

void TestMSComm::missingPortFailsToOpen()
{
    m_comm->setCommPort(4);
    QVERIFY_THROWS_EXCEPTION(SerialPortError, m_comm->setPortOpen(true));
    QVERIFY(!m_comm->PortOpen());
}

void TestMSComm::portHeldByAnotherProcessFailsToOpen()
{
    QProcess holder;
    holder.start(QStringLiteral(TOVA_PORT_HOLDER), {m_ports->filePath("com3")});
    QVERIFY(holder.waitForReadyRead(5000));
    QCOMPARE(holder.readAll().trimmed(), QByteArray("holding"));

    m_comm->setCommPort(3);
    QVERIFY_THROWS_EXCEPTION(SerialPortError, m_comm->setPortOpen(true));
    QVERIFY(!m_comm->PortOpen());

    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(5000));
    openCom3();
}

void TestMSComm::closedPortRefusesWrites()
{
    QVERIFY_THROWS_EXCEPTION(SerialPortError, m_comm->setOutput(QStringLiteral("AT H1 \r")));
    QVERIFY_THROWS_EXCEPTION(SerialPortError, m_comm->setInBufferCount(0));
    QCOMPARE(m_comm->Input(), QString());
    m_comm->setPortOpen(false);
    QVERIFY(!m_comm->PortOpen());
}

void TestMSComm::vanishedDeviceClosesPortWithoutBusyLoop()
{
    openCom3();
    QSignalSpy events(m_comm.get(), &MSComm::OnComm);
    m_modem.reset();
    m_line->kill();
    QTRY_VERIFY(!m_comm->PortOpen());
    QCOMPARE(m_comm->CommEvent(), short(comEventDeviceLost));
    // A port left open on a dead device would report its error at every poll.
    const qsizetype afterClose = events.count();
    QTest::qWait(500);
    QCOMPARE(events.count(), afterClose);
    QVERIFY(afterClose <= 2);
    QVERIFY_THROWS_EXCEPTION(SerialPortError, m_comm->setOutput(QStringLiteral("AT H0 \r")));
}

QTEST_GUILESS_MAIN(TestMSComm)
#include "tst_mscomm.moc"
