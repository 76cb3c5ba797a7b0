#include "Fakes.h"
#include "Form1.h"
#include "PtyPair.h"

#include <QFile>
#include <QTest>

#include <optional>

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
    OpenWatch()
        : m_fd(inotify_init1(IN_NONBLOCK)) {}
    ~OpenWatch() { ::close(m_fd); }
    void watch(const QString& path) { inotify_add_watch(m_fd, QFile::encodeName(path), IN_OPEN); }
    bool anyOpened() const {
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
    void init() {
        m_ports.emplace();
        m_boxes->shown.clear();
    }
    void cleanup() {
        DefaultForm<Form1>::Unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_lines.clear();
        m_ports.reset();
    }

    void modemOnCom3LeavesOtherPortsUntouched() {
        QVERIFY(modemOn(3));
        OpenWatch watch;
        for (int port = 4; port <= 9; ++port) {
            const QString file = m_ports->path(QStringLiteral("file%1").arg(port));
            QFile(file).open(QIODevice::WriteOnly);
            QFile::link(file, m_ports->link(port));
            watch.watch(file);
        }
        verifyOpened(3);
        QVERIFY(!watch.anyOpened());
    }

    void onlyCom9Opens() {
        for (int port = 3; port <= 8; ++port)
            m_ports->missing(port);
        QVERIFY(modemOn(9));
        verifyOpened(9);
    }

    void busyAndMissingPortsAreSkipped() {
        QVERIFY(modemOn(3));
        PortHolder holder(m_ports->link(3));
        QVERIFY(holder.holding());
        m_ports->missing(4);
        QVERIFY(modemOn(5));
        verifyOpened(5);
    }

    void noPortShowsMessageAndWindowStillOpens() {
        m_ports->noModem();
        Form1& form = DefaultForm<Form1>::Show();
        QCOMPARE(m_boxes->shown.size(), 1);
        QCOMPARE(m_boxes->shown[0].prompt, kNoModem);
        QCOMPARE(m_boxes->shown[0].style, int(vbOKOnly));
        QCOMPARE(m_boxes->shown[0].title, QStringLiteral("TOVA电话录音系统V1.0"));
        QVERIFY(!form.MSComm1.PortOpen());
        QVERIFY(form.isVisible());
    }

    void unloadClosesTheOpenedPort() {
        m_ports->missing(3);
        QVERIFY(modemOn(4));
        QVERIFY(modemOn(5));
        verifyOpened(4);
        QVERIFY(DefaultForm<Form1>::Unload());
        QVERIFY(PortHolder(m_ports->link(4)).holding());
    }

private:
    bool modemOn(int port) {
        m_lines.push_back(m_ports->line(port));
        return m_lines.back()->isReady();
    }
    void verifyOpened(int port) {
        Form1& form = DefaultForm<Form1>::Show();
        QCOMPARE(form.MSComm1.CommPort(), short(port));
        QVERIFY(form.MSComm1.PortOpen());
        QVERIFY(m_boxes->shown.isEmpty());
    }

    std::optional<PortFolder> m_ports;
    std::vector<std::unique_ptr<PtyPair>> m_lines;
    MessageBoxesFake m_boxes;
};

QTEST_MAIN(TestPortDiscovery)
#include "tst_portdiscovery.moc"
