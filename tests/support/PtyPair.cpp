#include "PtyPair.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QThread>

namespace tova::test {

namespace {
constexpr int kStartMs = 5000;
}

PtyPair::PtyPair(const QString& programLink, const QString& peerLink)
    : m_programLink(programLink)
    , m_peerLink(peerLink) {
    m_socat.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_socat.start(QStringLiteral("socat"),
                  {QStringLiteral("pty,rawer,echo=0,link=%1").arg(programLink),
                   QStringLiteral("pty,rawer,echo=0,link=%1").arg(peerLink)});
    if (!m_socat.waitForStarted(kStartMs)) return;
    // socat makes the links once both terminals exist; nothing signals that, so look.
    const QDeadlineTimer deadline(kStartMs);
    while (!deadline.hasExpired()) {
        if (QFileInfo(programLink).isSymLink() && QFileInfo(peerLink).isSymLink()) {
            m_ready = true;
            return;
        }
        QThread::msleep(10);
    }
}

PtyPair::~PtyPair() {
    kill();
}

void PtyPair::kill() {
    if (m_socat.state() == QProcess::NotRunning) return;
    m_socat.kill();
    m_socat.waitForFinished(kStartMs);
}

ScriptedModem::ScriptedModem(const QString& peerPath, bool answering)
    : m_port(std::make_unique<QSerialPort>(QFileInfo(peerPath).symLinkTarget()))
    , m_answering(answering) {
    m_port->setBaudRate(9600);
    if (m_port->open(QIODevice::ReadWrite))
        QObject::connect(m_port.get(), &QSerialPort::readyRead, [this] { read(); });
}

ScriptedModem::~ScriptedModem() = default;

bool ScriptedModem::isOpen() const {
    return m_port->isOpen();
}

void ScriptedModem::send(const QByteArray& bytes) {
    m_port->write(bytes);
    m_port->flush();
}

QList<QByteArray> ScriptedModem::commandLines() const {
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype end = m_received.indexOf('\r'); end >= 0;
         end = m_received.indexOf('\r', start)) {
        lines.append(m_received.mid(start, end - start + 1));
        start = end + 1;
    }
    return lines;
}

void ScriptedModem::read() {
    const QByteArray bytes = m_port->readAll();
    m_received += bytes;
    if (!m_answering) return;
    m_pending += bytes;
    for (qsizetype end = m_pending.indexOf('\r'); end >= 0; end = m_pending.indexOf('\r')) {
        // Echo on, verbose results: the modem repeats the line, then answers on a line of its own.
        send(m_pending.left(end + 1) + "\r\nOK\r\n");
        m_pending.remove(0, end + 1);
    }
}

} // namespace tova::test
