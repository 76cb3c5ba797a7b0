#include "ModemSetup.h"

#include "MSComm.h"
#include "Settings.h"

#include <chrono>

namespace tova {

namespace {

// A modem that says nothing to a line is not waited for longer.
constexpr std::chrono::seconds kReplyLimit{2};

// Caller ID on: the standard command, then the Rockwell/Conexant one.
const QString kCallerIdLine = QStringLiteral("AT+VCID=1\r");
const QString kCallerIdFallback = QStringLiteral("AT#CID=1\r");

} // namespace

ModemSetup::ModemSetup(Send send)
    : m_send(std::move(send)) {
    m_replyLimit.setSingleShot(true);
    m_replyLimit.setInterval(kReplyLimit);
    connect(&m_replyLimit, &QTimer::timeout, this, [this] {
        m_steps.removeFirst();
        sendNext();
    });
}

void ModemSetup::start(const Settings& settings) {
    m_steps.clear();
    if (!settings.modemInit.isEmpty()) m_steps.append({settings.modemInit + u'\r', {}});
    if (settings.callerId) m_steps.append({kCallerIdLine, kCallerIdFallback});
    sendNext();
}

bool ModemSetup::takeReply(const QString& text) {
    if (m_steps.isEmpty()) return false;
    const bool refused = text.contains(QLatin1String("ERROR"));
    if (!refused && !text.contains(QLatin1String("OK"))) return false;
    const Step done = m_steps.takeFirst();
    if (refused && !done.ifRefused.isEmpty()) m_steps.prepend({done.ifRefused, {}});
    sendNext();
    return true;
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
    }
}

} // namespace tova
