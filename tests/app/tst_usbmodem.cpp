#include "FakeAudio.h"
#include "Fakes.h"
#include "Form1.h"
#include "PtyPair.h"
#include "RecordingsFolder.h"
#include "Windows.h"

#include <QPushButton>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tova;
using namespace tova::test;

static const QString kNoModem =
    QStringLiteral("你没有安装好MODEM卡,或COM口没有设置在正确的COM上,软件不能正常使用!");
constexpr uid_t kNobody = 65534;

// Files are opened as the unprivileged user while this lives; root opens any device.
struct AsNobody {
    AsNobody() { QVERIFY(::setegid(kNobody) == 0 && ::seteuid(kNobody) == 0); }
    ~AsNobody() { QVERIFY(::seteuid(0) == 0 && ::setegid(0) == 0); }
};

// COM ports taken from pseudo-terminals named like USB modems (ttyACM0, serial/by-id/usb-…) in
// a device folder of the test's own, by the main window and by the program run without display.
class TestUsbModem : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_devices.emplace();
        QFile::setPermissions(m_devices->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ExeOwner | QFile::ReadOther |
                                                     QFile::ExeOther);
        qputenv("TOVA_DEV_DIR", QFile::encodeName(m_devices->path()));
        m_ports.emplace();
    }
    void cleanup() {
        unloadAllWindows();
        m_modems.clear();
        m_lines.clear();
        m_lock.reset();
        if (m_exclusive >= 0) ::close(std::exchange(m_exclusive, -1));
    }

    void program_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("devices"); // "link=device" for a link
        QTest::addColumn<QString>("access");      // how the device is kept from the user nobody
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output"); // stdout, or stderr on failure; devices by name
        const QStringList none, ports{"--ports"};
        const QStringList byId{"ttyUSB0", "ttyACM0", "ttyACM1", "serial/by-id/usb-B-if00=ttyACM0",
                               "serial/by-id/usb-A-if00=ttyACM1"};
        QTest::newRow("help")
            << QStringList{"--help"} << none << "" << 0
            << "^用法：\\S*tova-recorder \\[选项\\]\n.*\n  --ports +列出COM3到COM9";
        QTest::newRow("version") << QStringList{"--version"} << none << "" << 0
                                 << "^tova-recorder 2.0\n$";
        QTest::newRow("unknown") << QStringList{"--com=3"} << none << "" << 2
                                 << "^tova-recorder: 不认识的选项: --com\n用 tova-recorder --help";
        QTest::newRow("stable names") << ports << byId << "" << 0
                                      << listing({"ttyACM1 可用", "ttyACM0 可用", "ttyUSB0 可用"});
        QTest::newRow("links win") << ports << byId + QStringList{"com4=ttyACM1"} << "" << 0
                                   << listing({"ttyACM0 可用", "ttyACM1 可用", "ttyUSB0 可用"});
        QTest::newRow("by number") << ports << QStringList{"ttyACM10", "ttyACM9"} << "" << 0
                                   << listing({"ttyACM9 可用", "ttyACM10 可用"});
        QTest::newRow("no permission")
            << ports << QStringList{"ttyACM0"} << "group" << 0 << listing({"ttyACM0 没有权限"});
        QTest::newRow("held") << ports << QStringList{"ttyACM0"} << "exclusive" << 0
                              << listing({"ttyACM0 忙"});
    }
    void program() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, devices);
        QFETCH(QString, access);
        QFETCH(int, status);
        QFETCH(QString, output);
        for (const QString& device : devices)
            plugIn(device, access);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(display);
        program.setProcessEnvironment(environment);
        const QStringList nobody{"--reuid=65534", "--regid=65534", "--clear-groups", TOVA_PROGRAM};
        access.isEmpty() ? program.start(TOVA_PROGRAM, arguments)
                         : program.start("setpriv", nobody + arguments);
        QVERIFY(program.waitForFinished());
        QCOMPARE(program.exitCode(), status);
        QString text = status ? program.readAllStandardError() : program.readAllStandardOutput();
        for (const QString& device : devices.filter(QRegularExpression("^tty")))
            text.replace(QFileInfo(m_devices->filePath(device)).canonicalFilePath() + ' ',
                         device + ' ');
        text.replace(m_devices->path() + '/', "");
        QVERIFY2(text.contains(
                     QRegularExpression(output, QRegularExpression::DotMatchesEverythingOption)),
                 qPrintable(text));
    }

    void window_data() {
        QTest::addColumn<bool>("atStart");
        QTest::addColumn<QString>("access"); // kept from nobody, who opens the ports
        QTest::addColumn<QString>("box");    // %1: the device, %2: this test's process
        QTest::newRow("USB modem, no link") << true << ""
                                            << "";
        QTest::newRow("plugged in later") << false << "" << kNoModem;
        QTest::newRow("no permission")
            << true << "group"
            << kNoModem + "\nCOM3 (%1): 您没有权限使用这个设备。请把您的用户加入 dialout 组: "
                          "sudo adduser $USER dialout ,然后重新登录。";
        QTest::newRow("locked") << true << "lock file"
                                << kNoModem + "\nCOM3 (%1): 正被程序 tst_usbmodem (进程 %2) 占用。";
    }
    void window() {
        QFETCH(bool, atStart);
        QFETCH(QString, access);
        QFETCH(QString, box);
        m_boxes->shown.clear();
        if (atStart) plugIn("ttyACM0", access);
        const QString device = QFileInfo(m_devices->filePath("ttyACM0")).canonicalFilePath();
        Form1* form = nullptr;
        {
            std::optional<AsNobody> nobody;
            if (access == "group") nobody.emplace();
            form = &DefaultForm<Form1>::Show();
        }
        QCOMPARE(m_boxes->shown.isEmpty() ? "" : m_boxes->shown.last().prompt,
                 box.replace("%1", device).replace("%2", QString::number(qApp->applicationPid())));
        m_lock.reset();
        if (!atStart) plugIn("ttyACM0", "");
        QTRY_VERIFY_WITH_TIMEOUT(form->MSComm1.PortOpen(), 3000);
        form->Command3->click();
        QTRY_COMPARE(m_modems.back()->commandLines(), QByteArrayList{"AT H1 \r"});
    }

private:
    // COM3 to COM9 each with its device, or "ttySn 不存在".
    static QString listing(const QStringList& devices) {
        QString text;
        for (int port = 3; port <= 9; ++port)
            text +=
                QStringLiteral("COM%1 %2\n")
                    .arg(port)
                    .arg(devices.value(port - 3, QStringLiteral("ttyS%1 不存在").arg(port - 1)));
        return '^' + QRegularExpression::escape(text) + '$';
    }
    // A pseudo-terminal under the device's name with a modem at its far end, or the link.
    void plugIn(const QString& device, const QString& access) {
        if (const qsizetype link = device.indexOf('='); link >= 0) {
            const QString name = device.first(link);
            const QString path = name.startsWith("com") ? m_ports->link(name.sliced(3).toInt())
                                                        : m_devices->filePath(name);
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QVERIFY(QFile::link(m_devices->filePath(device.sliced(link + 1)), path));
            return;
        }
        m_lines.push_back(
            std::make_unique<PtyPair>(m_devices->filePath(device), m_peers.filePath(device)));
        m_modems.push_back(std::make_unique<ScriptedModem>(m_peers.filePath(device)));
        QVERIFY(m_lines.back()->isReady() && m_modems.back()->isOpen());
        const QString pty = QFileInfo(m_devices->filePath(device)).canonicalFilePath();
        const QByteArray path = QFile::encodeName(pty);
        // The device as a USB modem is: root:dialout, 0660.
        QVERIFY(::chown(path, 0, 20) == 0 && ::chmod(path, access == "group" ? 0660 : 0666) == 0);
        if (access == "exclusive") {
            m_exclusive = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
            QVERIFY(::ioctl(m_exclusive, TIOCEXCL) == 0);
        } else if (access == "lock file") {
            m_lock.emplace("/run/lock/LCK.." + pty.sliced(5).replace('/', '_'));
            QVERIFY(m_lock->open(QIODevice::WriteOnly));
            m_lock->write(QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
                          QFile::encodeName(QCoreApplication::applicationFilePath()) + '\n');
            m_lock->close();
        }
    }

    FakeAudio m_audio;
    MessageBoxesFake m_boxes;
    RecordingsFolder m_recordings;
    std::optional<QTemporaryDir> m_devices;
    QTemporaryDir m_peers;
    std::optional<PortFolder> m_ports;
    std::vector<std::unique_ptr<PtyPair>> m_lines;
    std::vector<std::unique_ptr<ScriptedModem>> m_modems;
    int m_exclusive = -1;
    struct RemovedLock : QFile {
        using QFile::QFile;
        ~RemovedLock() { remove(); }
    };
    std::optional<RemovedLock> m_lock;
};

QTEST_MAIN(TestUsbModem)
#include "tst_usbmodem.moc"
