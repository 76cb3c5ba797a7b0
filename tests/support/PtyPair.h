#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

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
