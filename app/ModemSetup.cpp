#include "ModemSetup.h"

#include "MSComm.h"
#include "Settings.h"

#include <QRegularExpression>

#include <chrono>

namespace tova {

namespace {

// How long the answer to a line that timed out may still come.
constexpr std::chrono::seconds kLateLimit{10};
// A reply line is a word or two; what grows past this without a line end is no reply.
constexpr qsizetype kLongestPartial = 64;

const QRegularExpression kLineEnd(QStringLiteral("[\r\n]"));

// Final results: V.253's, the older voice modems' VCON, and a dial's failures.
const QStringList kAccepted{QStringLiteral("OK"), QStringLiteral("VCON")};
const QStringList kRefused{QStringLiteral("ERROR"), QStringLiteral("BUSY"),
                           QStringLiteral("NO CARRIER"), QStringLiteral("NO ANSWER"),
                           QStringLiteral("NO DIALTONE")};

// Caller ID on: the standard command, then the Rockwell/Conexant one.
const QString kCallerIdLine = QStringLiteral("AT+VCID=1\r");
const QString kCallerIdFallback = QStringLiteral("AT#CID=1\r");

} // namespace

ModemSetup::ModemSetup(Send send)
    : m_send(std::move(send)) {
    m_replyLimit.setSingleShot(true);
    connect(&m_replyLimit, &QTimer::timeout, this, &ModemSetup::timedOut);
    m_lateLimit.setSingleShot(true);
    m_lateLimit.setInterval(kLateLimit);
    connect(&m_lateLimit, &QTimer::timeout, this, [this] { m_late = 0; });
}

void ModemSetup::start(const Settings& settings) {
    m_steps.clear();
    m_partial.clear();
    m_late = 0;
    m_waiting = false;
    if (!settings.modemInit.isEmpty()) m_steps.append({settings.modemInit + u'\r', {}});
    if (settings.callerId) m_steps.append({kCallerIdLine, kCallerIdFallback});
    sendNext();
}

void ModemSetup::queue(const QString& line, Answered answered,
                       std::chrono::milliseconds limit) {
    m_steps.append({line, {}, std::move(answered), limit});
    if (!m_waiting) sendNext();
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
    const bool refused = kRefused.contains(line);
    if (!refused && !kAccepted.contains(line)) {
        // The lines of a question's answer.
        if (m_late > 0 || m_steps.isEmpty() || line.isEmpty() ||
            !m_steps.constFirst().line.endsWith(QLatin1String("=?\r")))
            return false;
        m_steps.first().answer += line + u'\n';
        return true;
    }
    if (m_late > 0) {
        --m_late;
        return true;
    }
    if (m_steps.isEmpty()) return false;
    finish(refused, refused);
    return true;
}

void ModemSetup::timedOut() {
    ++m_late;
    m_lateLimit.start();
    finish(true, false);
}

// What is told of the line in hand may queue more lines; they go after it.
void ModemSetup::finish(bool refused, bool answeredRefused) {
    const Step done = m_steps.takeFirst();
    if (answeredRefused && !done.ifRefused.isEmpty()) m_steps.prepend({done.ifRefused, {}});
    if (done.answered) done.answered(done.answer, refused);
    m_waiting = false;
    sendNext();
}

void ModemSetup::sendNext() {
    m_replyLimit.stop();
    if (m_steps.isEmpty()) return;
    try {
        m_send(m_steps.first().line);
        m_waiting = true;
        m_replyLimit.start(m_steps.first().limit);
    } catch (const SerialPortError&) {
        // The port has gone; the set-up runs again when it is back.
        m_steps.clear();
        m_late = 0;
    }
}

} // namespace tova
