#include "DemoModem.h"

#include <cstdio>

namespace tova::demo {

namespace {
// A caller says the message a few times over, then hangs up.
constexpr std::chrono::seconds kCallLength{15};
} // namespace

DemoModem::DemoModem(const QString& portPath, std::chrono::milliseconds ringEvery,
                     std::vector<int16_t> message)
    : m_port(portPath)
    , m_voice(m_port, std::move(message), kCallLength)
{
    m_ringTimer.setInterval(ringEvery);
    connect(&m_ringTimer, &QTimer::timeout, this, &DemoModem::ring);
    connect(&m_port, &QSerialPort::readyRead, this, &DemoModem::read);
}

bool DemoModem::open()
{
    if (!m_port.open(QIODevice::ReadWrite))
        return false;
    m_ringTimer.start();
    return true;
}

void DemoModem::read()
{
    const QByteArray bytes = m_port.readAll();
    if (m_voice.streaming())
        return m_voice.received(bytes);
    m_port.write(bytes); // echo, as modems do by default
    for (const char c : bytes) {
        if (c != '\r') {
            m_line += c;
            continue;
        }
        command(m_line.toUpper().replace(' ', QByteArray()));
        m_line.clear();
    }
}

void DemoModem::command(const QByteArray& line)
{
    if (!line.startsWith("AT"))
        return;
    std::printf("modem: %s\n", line.constData());
    std::fflush(stdout);
    const QByteArray body = line.mid(2);
    if (const auto answer = m_voice.command(body))
        return reply(*answer);
    // Dialling or answering lifts the handset; ATH0 (or ATH) puts it down again.
    if (body.startsWith('D') || body.startsWith('A') || body == "H1")
        m_offHook = true;
    else if (body == "H0" || body == "H")
        m_offHook = false;
    reply("OK");
}

void DemoModem::ring()
{
    if (!m_offHook && !m_voice.offHook())
        reply("RING");
}

void DemoModem::reply(const QByteArray& text)
{
    // Verbose result codes stand on a line of their own.
    m_port.write("\r\n" + text + "\r\n");
}

} // namespace tova::demo
