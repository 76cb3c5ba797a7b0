#include "MSComm.h"
#include "PtyPair.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace tova;
using namespace tova::test;

// The serial-port component against a real pseudo-terminal with a silent modem on the far end.
class TestMSComm : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_ports.emplace();
        qputenv("TOVA_PORT_DIR", m_ports->path().toLocal8Bit());
        m_line.emplace(m_ports->filePath("com3"), m_ports->filePath("modem"));
        QVERIFY(m_line->isReady());
        m_modem.emplace(m_line->peerLink(), false);
        QVERIFY(m_modem->isOpen());
        m_comm.emplace();
    }
    void cleanup() {
        m_comm.reset();
        m_modem.reset();
        m_line.reset();
        m_ports.reset();
    }

    void commandLineBytes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("answer") << QStringLiteral("AT H1 \r") << QByteArray("AT H1 \r");
        QTest::newRow("full-width digits")
            << QStringLiteral("ATDT１２３ ４５６;\r") << QByteArray("ATDT123 456;\r");
        QTest::newRow("full-width letters and comma")
            << QStringLiteral("ATDT９，１２Ａ;\r") << QByteArray("ATDT9,12A;\r");
    }
    void commandLineBytes() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(tova::commandLineBytes(text), bytes);
    }

    void bytesArriveExactly() {
        openCom3();
        m_comm->setOutput(QStringLiteral("ATDT１２３ 456;\r"));
        QTRY_COMPARE(m_modem->received(), QByteArray("ATDT123 456;\r"));
    }

    void refusedTextWritesNothing_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("pasted line break") << QStringLiteral("ATDT123\r\nATH0;\r");
        QTest::newRow("carriage return inside") << QStringLiteral("ATDT1\rATZ;\r");
        QTest::newRow("tab") << QStringLiteral("ATDT1\t2;\r");
        QTest::newRow("delete") << QStringLiteral("ATDT1\x7f;\r");
        QTest::newRow("chinese") << QStringLiteral("ATDT电话;\r");
        QTest::newRow("accented") << QStringLiteral("ATDTé;\r");
    }
    void refusedTextWritesNothing() {
        QFETCH(QString, text);
        openCom3();
        QVERIFY_THROWS_EXCEPTION(SerialPortError, m_comm->setOutput(text));
        // A later line arriving alone shows that the refused one left nothing on the line.
        m_comm->setOutput(QStringLiteral("AT H0 \r"));
        QTRY_COMPARE(m_modem->received(), QByteArray("AT H0 \r"));
    }

    void receptionRaisesOnCommAndInputEmptiesBuffer() {
        openCom3();
        QCOMPARE(m_comm->CommEvent(), short(comEvNone));
        QSignalSpy events(&*m_comm, &MSComm::OnComm);
        m_modem->send("\r\nRING\r\n");
        QTRY_COMPARE(m_comm->InBufferCount(), short(8));
        QVERIFY(events.count() >= 1);
        QCOMPARE(m_comm->CommEvent(), short(comEvReceive));
        QCOMPARE(m_comm->Input(), QStringLiteral("\r\nRING\r\n"));
        QCOMPARE(m_comm->Input(), QString());
    }

    void inBufferCountZeroDiscardsUnread() {
        openCom3();
        m_modem->send("NO CARRIER\r\n");
        QTRY_COMPARE(m_comm->InBufferCount(), short(12));
        m_comm->setInBufferCount(0);
        QCOMPARE(m_comm->InBufferCount(), short(0));
        m_modem->send("OK\r\n");
        QTRY_COMPARE(m_comm->InBufferCount(), short(4));
        QCOMPARE(m_comm->Input(), QStringLiteral("OK\r\n"));
    }

    void missingOrHeldPortFailsToOpen() {
        m_comm->setCommPort(4);
        QVERIFY_THROWS_EXCEPTION(SerialPortError, m_comm->setPortOpen(true));
        QVERIFY(!m_comm->PortOpen());
        {
            PortHolder holder(m_ports->filePath("com3"));
            QVERIFY(holder.holding());
            m_comm->setCommPort(3);
            QVERIFY_THROWS_EXCEPTION(SerialPortError, m_comm->setPortOpen(true));
            QVERIFY(!m_comm->PortOpen());
        }
        openCom3();
    }

    void closedPortRefusesWrites() {
        QVERIFY_THROWS_EXCEPTION(SerialPortError, m_comm->setOutput(QStringLiteral("AT H1 \r")));
        QVERIFY_THROWS_EXCEPTION(SerialPortError, m_comm->setInBufferCount(0));
        QCOMPARE(m_comm->Input(), QString());
    }

    void vanishedDeviceClosesPortWithoutBusyLoop() {
        openCom3();
        QSignalSpy events(&*m_comm, &MSComm::OnComm);
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

private:
    void openCom3() {
        m_comm->setCommPort(3);
        m_comm->setPortOpen(true);
        QVERIFY(m_comm->PortOpen());
    }

    std::optional<QTemporaryDir> m_ports;
    std::optional<PtyPair> m_line;
    std::optional<ScriptedModem> m_modem;
    std::optional<MSComm> m_comm;
};

QTEST_GUILESS_MAIN(TestMSComm)
#include "tst_mscomm.moc"
