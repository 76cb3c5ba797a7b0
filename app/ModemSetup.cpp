#include "ModemSetup.h"

#include "MSComm.h"
#include "Settings.h"

#include <QRegularExpression>

#include <chrono>

namespace tova {

namespace {

// A reset (ATZ) takes a modem a second or three; one that says nothing for longer is not
// waited for.
constexpr std::chrono::seconds kReplyLimit{3};
// How long the answer to a line that timed out may still come.
constexpr std::chrono::seconds kLateLimit{10};
// A reply line is a word or two; what grows past this without a line end is no reply.
constexpr qsizetype kLongestPartial = 64;

const QRegularExpression kLineEnd(QStringLiteral("[\r\n]"));

// Caller ID on: the standard command, then the Rockwell/Conexant one.
const QString kCallerIdLine = QStringLiteral("AT+VCID=1\r");
const QString kCallerIdFallback = QStringLiteral("AT#CID=1\r");

} // namespace

ModemSetup::ModemSetup(Send send)
    : m_send(std::move(send)) {
    m_replyLimit.setSingleShot(true);
    m_replyLimit.setInterval(kReplyLimit);
    connect(&m_replyLimit, &QTimer::timeout, this, &ModemSetup::timedOut);
    m_lateLimit.setSingleShot(true);
    m_lateLimit.setInterval(kLateLimit);
    connect(&m_lateLimit, &QTimer::timeout, this, [this] { m_late = 0; });
}

void ModemSetup::start(const Settings& settings) {
    m_steps.clear();
    m_partial.clear();
    m_late = 0;
    if (!settings.modemInit.isEmpty()) m_steps.append({settings.modemInit + u'\r', {}});
    if (settings.callerId) m_steps.append({kCallerIdLine, kCallerIdFallback});
    sendNext();
}

bool ModemSetup::takeReply(const QString& text) {
    if (m_steps.isEmpty() && m_late == 0) return false;
    const QString received = std::exchange(m_partial, QString()) + text;
    bool taken = false;
    qsizetype start = 0;
    for (qsizetype end; (end = received.indexOf(kLineEnd, start)) >= 0; start = end + 1)
        taken = takeLine(received.sliced(start, end - start).trimmed()) || taken;
    if (received.size() - start <= kLongestPartial) m_partial = received.sliced(start);
    return taken;
}

bool ModemSetup::takeLine(const QString& line) {
    if (!m_steps.isEmpty() && line + u'\r' == m_steps.constFirst().line) {
        m_late = 0;
        return true;
    }
    const bool refused = line == u"ERROR";
    if (!refused && line != u"OK") return false;
    if (m_late > 0) {
        --m_late;
        return true;
    }
    if (m_steps.isEmpty()) return false;
    const Step done = m_steps.takeFirst();
    if (refused && !done.ifRefused.isEmpty()) m_steps.prepend({done.ifRefused, {}});
    sendNext();
    return true;
}

void ModemSetup::timedOut() {
    m_steps.removeFirst();
    ++m_late;
    m_lateLimit.start();
    sendNext();
}

void ModemSetup::sendNext() {
    m_replyLimit.stop();
    if (m_steps.isEmpty()) return;
    try {
        m_send(m_steps.first().line);
        m_replyLimit.start();
    } catch (const SerialPortError&) {
        // The port has gone; the set-up runs again when it is back.
        m_steps.clear();
        m_late = 0;
    }
}

} // namespace tova
