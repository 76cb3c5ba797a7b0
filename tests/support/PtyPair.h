#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class QSerialPort;

namespace tova::test {

// Two pseudo-terminals joined by socat, each reachable through a link: what one end writes,
// the other reads. Stands in for a serial cable with a modem on the far end.
class PtyPair {
public:
    PtyPair(const QString& programLink, const QString& peerLink);
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool isReady() const { return m_ready; }
    QString programLink() const { return m_programLink; }
    QString peerLink() const { return m_peerLink; }
    // The cable is pulled: socat dies and both terminals hang up.
    void kill();

private:
    QProcess m_socat;
    QString m_programLink;
    QString m_peerLink;
    bool m_ready = false;
};

// The modem at the peer end of a PtyPair. It collects what the program sends and, when
// answering, echoes each command line and replies "OK" as a Hayes modem does.
class ScriptedModem {
public:
    explicit ScriptedModem(const QString& peerPath, bool answering = true);
    ~ScriptedModem();

    bool isOpen() const;
    void send(const QByteArray& bytes);
    // Everything received so far.
    QByteArray received() const { return m_received; }
    // The command lines received so far, each with its carriage return.
    QList<QByteArray> commandLines() const;

private:
    void read();

    std::unique_ptr<QSerialPort> m_port;
    QByteArray m_received;
    QByteArray m_pending;
    bool m_answering;
};

// A port folder of its own, named by TOVA_PORT_DIR for the life of this object.
class PortFolder {
public:
    PortFolder() { qputenv("TOVA_PORT_DIR", QFile::encodeName(m_dir.path())); }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString link(int port) const { return path(QStringLiteral("com%1").arg(port)); }
    // COMn links to nothing: the port does not exist.
    void missing(int port) const { QFile::link(path(QStringLiteral("nothing")), link(port)); }
    void noModem() const {
        for (int port = 3; port <= 9; ++port)
            missing(port);
    }
    // A line on COMn whose far end is reachable as "modemN".
    std::unique_ptr<PtyPair> line(int port) const {
        return std::make_unique<PtyPair>(link(port), path(QStringLiteral("modem%1").arg(port)));
    }

private:
    QTemporaryDir m_dir;
};

#ifdef TOVA_PORT_HOLDER
// Another program holding the serial port at `path` open, for the life of this object.
class PortHolder {
public:
    explicit PortHolder(const QString& path) {
        m_process.start(QStringLiteral(TOVA_PORT_HOLDER), {path});
        m_holding = m_process.waitForReadyRead(5000);
    }
    ~PortHolder() {
        m_process.closeWriteChannel();
        m_process.waitForFinished(5000);
    }
    bool holding() const { return m_holding; }

private:
    QProcess m_process;
    bool m_holding = false;
};
#endif

} // namespace tova::test
