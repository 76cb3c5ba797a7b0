#include "FakeAudio.h"
#include "Fakes.h"
#include "Form1.h"
#include "PtyPair.h"
#include "RecordingsFolder.h"
#include "Windows.h"

#include <QPushButton>

#include <sys/stat.h>
#include <unistd.h>

using namespace tova;
using namespace tova::test;

static const QString kNoModem =
    QStringLiteral("你没有安装好MODEM卡,或COM口没有设置在正确的COM上,软件不能正常使用!");

// Modems on pseudo-terminals named like USB devices (ttyACM0, serial/by-id/usb-…) in a device
// folder of the test's own, seen by the main window and by the program run without a display.
class TestUsbModem : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_devices.emplace();
        QVERIFY(::chmod(QFile::encodeName(m_devices->path()), 0755) == 0);
        qputenv("TOVA_DEV_DIR", QFile::encodeName(m_devices->path()));
        qputenv("TOVA_PORT_DIR", QFile::encodeName(m_devices->filePath("ports")));
    }
    void cleanup() {
        unloadAllWindows();
        m_modems.clear();
    }

    void options_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output"); // how stdout, or stderr on failure, begins
        QTest::newRow("help") << "--help" << 0 << "用法：" TOVA_PROGRAM " [选项]\nTOVA电话录音系统";
        QTest::newRow("version") << "--version" << 0 << "tova-recorder 2.0\n";
        QTest::newRow("unknown") << "--com=3" << 2 << "tova-recorder: 不认识的选项: --com\n用 ";
    }
    void options() {
        QFETCH(QString, option);
        QFETCH(int, status);
        QFETCH(QString, output);
        auto [exitCode, text] = run(option, false);
        QCOMPARE(exitCode, status);
        QVERIFY2(text.startsWith(output), qPrintable(text));
    }

    // Each row: what --ports lists (a modem that answers is asked whether it can record) and
    // what the window says at load; then the modem on COM3
    // (plugged in after the load when "later") is the one that answers.
    void modem_data() {
        QTest::addColumn<QString>("devices"); // "path=device" for a link
        QTest::addColumn<QString>("held");    // from nobody at load, or plugged in after
        QTest::addColumn<QString>("ports");   // COM3, COM4 … as "device [state]"; ttySn after
        QTest::addColumn<QString>("box");     // %1: the device
        const QString none, acm0 = "ttyACM0";
        QTest::newRow("ttyACM0, no link") << acm0 << none << acm0 << none;
        QTest::newRow("links first, then modems by stable name, by number, then adapters")
            << "ttyUSB1 ttyUSB0 ttyACM10 ttyACM9 ttyACM1 ttyACM0 ports/com3=ttyUSB0 "
               "serial/by-id/usb-B-if00=ttyACM0 serial/by-id/usb-A-if00=ttyACM1"
            << none << "ttyUSB0,ttyACM1,ttyACM0,ttyACM9,ttyACM10,ttyUSB1" << none;
        QTest::newRow("plugged in later") << none << QString("later") << none << kNoModem;
        QTest::newRow("no permission")
            << acm0 << QString("nobody") << QString("ttyACM0 没有权限")
            << kNoModem + "\nCOM3 (%1): 您没有权限使用这个设备。请把您的用户加入 dialout 组: "
                          "sudo adduser $USER dialout ,然后重新登录。";
    }
    void modem() {
        QFETCH(QString, devices);
        QFETCH(QString, held);
        QFETCH(QString, ports);
        QFETCH(QString, box);
        for (const QString& device : devices.split(' ', Qt::SkipEmptyParts))
            plugIn(device, held);
        const QStringList listed = ports.split(',', Qt::SkipEmptyParts);
        const QString com3 = listed.value(0, "ttyACM0").section(' ', 0, 0);
        QString listing;
        for (int port = 3; port <= 9; ++port) {
            const QStringList entry =
                listed.value(port - 3, "ttyS" + QString::number(port - 1) + " 不存在").split(' ');
            listing += QString("COM%1 %2 %3\n")
                           .arg(port)
                           .arg(path(entry[0]), entry.mid(1).join(' ').isEmpty()
                                                    ? "可用 不能录音"
                                                    : entry.mid(1).join(' '));
        }
        QCOMPARE(run("--ports", held == "nobody").second, listing);

        if (held == "nobody") QVERIFY(::setegid(65534) == 0 && ::seteuid(65534) == 0);
        Form1& form = DefaultForm<Form1>::Show();
        QVERIFY(::seteuid(0) == 0 && ::setegid(0) == 0);
        QCOMPARE(m_boxes->shown.isEmpty() ? "" : m_boxes->shown.last().prompt,
                 box.replace("%1", path(com3)));
        if (held == "later") plugIn(com3, "");
        QTRY_VERIFY_WITH_TIMEOUT(form.MSComm1.PortOpen(), 3000);
        form.Command3->click();
        const QByteArrayList asked = held.isEmpty() ? QByteArrayList{"AT+FCLASS=?\r"} : QByteArrayList();
        QTRY_COMPARE(m_modems.at(com3).second->commandLines(), asked + QByteArrayList{"AT H1 \r"});
    }

private:
    // Where the device's name leads; the name in the device folder when nowhere.
    QString path(const QString& device) const {
        const QFileInfo file(m_devices->filePath(device));
        return file.exists() ? file.canonicalFilePath() : file.filePath();
    }
    // The program's exit status and its output, run with no display, as nobody or as root.
    std::pair<int, QString> run(const QString& option, bool nobody) {
        QProcess program;
        program.startCommand(
            "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
            QString(nobody ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
            TOVA_PROGRAM " " + option);
        // The modems answer meanwhile.
        (void)QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 30000);
        return {program.exitCode(), program.exitCode() ? program.readAllStandardError()
                                                       : program.readAllStandardOutput()};
    }
    // A link "name=device", or a pseudo-terminal under the device's name with a modem at its
    // far end, as a USB modem is: root:dialout, 0660 when only its group may use it.
    void plugIn(const QString& device, const QString& held) {
        if (const QStringList link = device.split('='); link.size() == 2) {
            const QString at = m_devices->filePath(link[0]);
            QVERIFY(QDir().mkpath(QFileInfo(at).path()) &&
                    QFile::link(m_devices->filePath(link[1]), at));
            return;
        }
        auto& [line, modem] = m_modems[device];
        line = std::make_unique<PtyPair>(m_devices->filePath(device), m_peers.filePath(device));
        modem = std::make_unique<ScriptedModem>(m_peers.filePath(device));
        QVERIFY(line->isReady() && modem->isOpen());
        const QByteArray pty = QFile::encodeName(path(device));
        QVERIFY(::chown(pty, 0, 20) == 0 && ::chmod(pty, held == "nobody" ? 0660 : 0666) == 0);
    }

    FakeAudio m_audio;
    MessageBoxesFake m_boxes;
    RecordingsFolder m_recordings;
    std::optional<QTemporaryDir> m_devices;
    QTemporaryDir m_peers;
    // The line comes first, so that its modem goes first.
    std::map<QString, std::pair<std::unique_ptr<PtyPair>, std::unique_ptr<ScriptedModem>>> m_modems;
};

QTEST_MAIN(TestUsbModem)
#include "tst_usbmodem.moc"
