#pragma once

#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace tova::test {

// Two pseudo-terminals joined by socat, each reachable through a link: what one end writes,
// the other reads. Stands in for a serial cable with a modem on the far end. Destroying it
// pulls the cable; a new pair under the same links is the modem plugged back in.
class PtyPair {
public:
    PtyPair(const QString& programLink, const QString& peerLink)
        : m_peerLink(peerLink) {
        // Links left by a pulled pair, or by "no modem", would look ready before socat is.
        QFile::remove(programLink);
        QFile::remove(peerLink);
        m_socat.start(QStringLiteral("socat"),
                      {QStringLiteral("pty,rawer,echo=0,link=%1").arg(programLink),
                       QStringLiteral("pty,rawer,echo=0,link=%1").arg(peerLink)});
        // socat makes the links once both terminals exist; nothing signals that, so look.
        m_ready = m_socat.waitForStarted() && QTest::qWaitFor([&] {
                      return QFileInfo(programLink).isSymLink() && QFileInfo(peerLink).isSymLink();
                  });
    }
    ~PtyPair() {
        // Both terminals hang up at once, as when a cable is pulled.
        m_socat.kill();
        m_socat.waitForFinished();
    }
    bool isReady() const { return m_ready; }
    QString peerLink() const { return m_peerLink; }

private:
    QProcess m_socat;
    QString m_peerLink;
    bool m_ready = false;
};

// The modem at the peer end of a PtyPair. It collects what the program sends and, when
// answering, takes the command lines one after the other as a Hayes modem does: it echoes each
// when it gets to it and replies "OK", or "ERROR" to the lines it refuses, once the line has
// taken its time.
class ScriptedModem {
public:
    explicit ScriptedModem(const QString& peerPath, bool answering = true)
        : m_port(QFileInfo(peerPath).symLinkTarget()) {
        m_port.open(QIODevice::ReadWrite);
        m_clock.start();
        QObject::connect(&m_port, &QSerialPort::readyRead, [this, answering] {
            m_received += m_port.readAll();
            const QByteArrayList lines = commandLines();
            for (; answering && m_answered < lines.size(); ++m_answered)
                answer(lines[m_answered]);
        });
    }
    bool isOpen() const { return m_port.isOpen(); }
    void send(const QByteArray& bytes) {
        m_port.write(bytes);
        m_port.flush();
    }
    QByteArray received() const { return m_received; }
    QByteArrayList refused;
    // Milliseconds a line takes before its result, by line; a line that takes -1 is lost, as
    // by a modem busy resetting: neither echoed nor answered.
    QHash<QByteArray, int> takes;
    // Each result comes in two writes, a little apart.
    bool inPieces = false;
    // The command lines received so far, each with its carriage return.
    QByteArrayList commandLines() const {
        QByteArrayList lines;
        for (qsizetype start = 0, end; (end = m_received.indexOf('\r', start)) >= 0;
             start = end + 1)
            lines.append(m_received.mid(start, end - start + 1));
        return lines;
    }

private:
    // Echo on, verbose results.
    void answer(const QByteArray& line) {
        if (takes.value(line) < 0) return;
        // A millisecond after the last: two timers due in the same one may fire either way.
        const qint64 turn = qMax<qint64>(m_clock.elapsed(), m_free + 1);
        const QByteArray result = refused.contains(line) ? "\r\nERROR\r\n" : "\r\nOK\r\n";
        const qsizetype cut = inPieces ? 5 : result.size();
        m_free = turn + takes.value(line) + (inPieces ? 100 : 0);
        m_outbox.append({turn, line});
        m_outbox.append({m_free - (inPieces ? 100 : 0), result.first(cut)});
        m_outbox.append({m_free, result.sliced(cut)});
        sendDue();
    }
    // One queue in time order: a modem's replies never overtake each other.
    void sendDue() {
        while (!m_outbox.isEmpty() && m_outbox.constFirst().first <= m_clock.elapsed())
            send(m_outbox.takeFirst().second);
        if (!m_outbox.isEmpty())
            QTimer::singleShot(int(m_outbox.constFirst().first - m_clock.elapsed()),
                               Qt::PreciseTimer, &m_port, [this] { sendDue(); });
    }

    QSerialPort m_port;
    QByteArray m_received;
    qsizetype m_answered = 0;
    QElapsedTimer m_clock; // the modem's clock
    qint64 m_free = 0;     // when it has done with the lines it has
    QList<std::pair<qint64, QByteArray>> m_outbox;
};

// A port folder of its own, named by TOVA_PORT_DIR for the life of this object.
class PortFolder {
public:
    PortFolder() { qputenv("TOVA_PORT_DIR", QFile::encodeName(m_dir.path())); }
    QString link(int port) const { return m_dir.filePath(QStringLiteral("com%1").arg(port)); }
    // COM3 to COM9 link to nothing: there is no port.
    void noModem() const {
        for (int port = 3; port <= 9; ++port)
            QFile::link(m_dir.filePath(QStringLiteral("nothing")), link(port));
    }
    // A line on COMn whose far end is reachable as "modemN".
    std::unique_ptr<PtyPair> line(int n) const {
        return std::make_unique<PtyPair>(link(n), m_dir.filePath("modem" + QString::number(n)));
    }

private:
    QTemporaryDir m_dir;
};

} // namespace tova::test
