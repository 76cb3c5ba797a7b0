#include "Fakes.h"
#include "Form1.h"
#include "PtyPair.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/inotify.h>
#include <unistd.h>

using namespace tova;
using namespace tova::test;

namespace {

const QString kNoModem =
    QStringLiteral("你没有安装好MODEM卡,或COM口没有设置在正确的COM上,软件不能正常使用!");

// Tells whether anything opened the watched files.
class OpenWatch {
public:
    OpenWatch() : m_fd(inotify_init1(IN_NONBLOCK)) {}
    ~OpenWatch() { ::close(m_fd); }
    void watch(const QString& path) { inotify_add_watch(m_fd, QFile::encodeName(path), IN_OPEN); }
    bool anyOpened() const
    {
        char buffer[4096];
        return ::read(m_fd, buffer, sizeof buffer) > 0;
    }

private:
    int m_fd;
};

} // namespace

// The main window's search for the modem on COM3 to COM9, against real pseudo-terminals.
class TestPortDiscovery : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void modemOnCom3LeavesOtherPortsUntouched();
    void onlyCom9Opens();
    void busyAndMissingPortsAreSkipped();
    void noPortShowsMessageAndWindowStillOpens();
    void unloadClosesTheOpenedPort();

private:
    QString link(int port) const { return m_ports->filePath(QStringLiteral("com%1").arg(port)); }
    PtyPair& modemOn(int port);
    // A link to nothing: the port does not exist.
    void missing(int port) { QFile::link(m_ports->filePath("nothing"), link(port)); }
    Form1& loadMainWindow() { return DefaultForm<Form1>::Show(); }

    std::unique_ptr<QTemporaryDir> m_ports;
    std::vector<std::unique_ptr<PtyPair>> m_lines;
    MessageBoxesFake m_boxes;
};

void TestPortDiscovery::init()
{
    m_ports = std::make_unique<QTemporaryDir>();
    qputenv("TOVA_PORT_DIR", m_ports->path().toLocal8Bit());
    m_boxes->shown.clear();
}

void TestPortDiscovery::cleanup()
{
    DefaultForm<Form1>::Unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_lines.clear();
    m_ports.reset();
}

PtyPair& TestPortDiscovery::modemOn(int port)
{
    m_lines.push_back(std::make_unique<PtyPair>(
        link(port), m_ports->filePath(QStringLiteral("modem%1").arg(port))));
    return *m_lines.back();
}

void TestPortDiscovery::modemOnCom3LeavesOtherPortsUntouched()
{
    QVERIFY(modemOn(3).isReady());
    OpenWatch watch;
    for (int port = 4; port <= 9; ++port) {
        const QString file = m_ports->filePath(QStringLiteral("file%1").arg(port));
        QFile(file).open(QIODevice::WriteOnly);
        QFile::link(file, link(port));
        watch.watch(file);
    }

    Form1& form = loadMainWindow();
    QCOMPARE(form.MSComm1.CommPort(), short(3));
    QVERIFY(form.MSComm1.PortOpen());
    QVERIFY(m_boxes->shown.isEmpty());
    QVERIFY(!watch.anyOpened());
}

void TestPortDiscovery::onlyCom9Opens()
{
    for (int port = 3; port <= 8; ++port)
        missing(port);
    QVERIFY(modemOn(9).isReady());

    Form1& form = loadMainWindow();
    QCOMPARE(form.MSComm1.CommPort(), short(9));
    QVERIFY(form.MSComm1.PortOpen());
    QVERIFY(m_boxes->shown.isEmpty());
}

void TestPortDiscovery::busyAndMissingPortsAreSkipped()
{
    QVERIFY(modemOn(3).isReady());
    QProcess holder;
    holder.start(QStringLiteral(TOVA_PORT_HOLDER), {link(3)});
    QVERIFY(holder.waitForReadyRead(5000));
    missing(4);
    QVERIFY(modemOn(5).isReady());

    Form1& form = loadMainWindow();
    QCOMPARE(form.MSComm1.CommPort(), short(5));
    QVERIFY(form.MSComm1.PortOpen());
    QVERIFY(m_boxes->shown.isEmpty());
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(5000));
}

void TestPortDiscovery::noPortShowsMessageAndWindowStillOpens()
{
    for (int port = 3; port <= 9; ++port)
        missing(port);

    Form1& form = loadMainWindow();
    QCOMPARE(m_boxes->shown.size(), 1);
    QCOMPARE(m_boxes->shown[0].prompt, kNoModem);
    QCOMPARE(m_boxes->shown[0].style, int(vbOKOnly));
    QCOMPARE(m_boxes->shown[0].title, QStringLiteral("TOVA电话录音系统V1.0"));
    QCOMPARE(form.MSComm1.CommPort(), short(9));
    QVERIFY(!form.MSComm1.PortOpen());
    QVERIFY(form.isVisible());
    QVERIFY(DefaultForm<Form1>::Unload());
}

void TestPortDiscovery::unloadClosesTheOpenedPort()
{
    missing(3);
    QVERIFY(modemOn(4).isReady());
    QVERIFY(modemOn(5).isReady());
    Form1& form = loadMainWindow();
    QCOMPARE(form.MSComm1.CommPort(), short(4));

    QVERIFY(DefaultForm<Form1>::Unload());
    QVERIFY(!form.MSComm1.PortOpen());
    // Another program can now take COM4.
    QProcess holder;
    holder.start(QStringLiteral(TOVA_PORT_HOLDER), {link(4)});
    QVERIFY(holder.waitForReadyRead(5000));
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(5000));
    QCOMPARE(holder.exitCode(), 0);
}

QTEST_MAIN(TestPortDiscovery)
#include "tst_portdiscovery.moc"
