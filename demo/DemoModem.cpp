#include "DemoModem.h"

#include <QDateTime>

#include <cstdio>
#include <iterator>

namespace tova::demo {

namespace {

// Rings come every few seconds, as on a telephone line.
constexpr std::chrono::seconds kRingInterval{5};
// Enough rings to answer; a caller who gives up rings this often.
constexpr int kRingsWaiting = 12;
constexpr int kRingsGivingUp = 3;

struct Caller {
    const char* number; // P: withheld
    const char* name;
};
// 01088886666 is 李经理 in the demo's phonebook (demo/phonebook.vcf).
constexpr Caller kCallers[] = {{"13800138000", "ZHANG SAN"},
                               {"01088886666", ""},
                               {"P", ""},
                               {"02187654321", "WANG"}};

// A caller says the message a few times over, then hangs up.
constexpr std::chrono::seconds kCallLength{15};

} // namespace

DemoModem::DemoModem(const QString& portPath, std::chrono::milliseconds ringEvery,
                     std::vector<int16_t> message)
    : m_port(portPath)
    , m_voice(m_port, std::move(message), kCallLength)
{
    m_callTimer.setInterval(ringEvery);
    m_ringTimer.setInterval(kRingInterval);
    connect(&m_callTimer, &QTimer::timeout, this, &DemoModem::call);
    connect(&m_ringTimer, &QTimer::timeout, this, &DemoModem::ring);
    connect(&m_port, &QSerialPort::readyRead, this, &DemoModem::read);
}

bool DemoModem::open()
{
    if (!m_port.open(QIODevice::ReadWrite))
        return false;
    m_callTimer.start();
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
    if (body.startsWith('D') || body.startsWith('A') || body == "H1") {
        m_offHook = true;
        m_ringTimer.stop();
    } else if (body == "H0" || body == "H") {
        m_offHook = false;
    }
    reply("OK");
}

// A caller: the caller ID report in the first silence, then the rings.
void DemoModem::call()
{
    if (m_offHook || m_voice.offHook() || m_ringTimer.isActive())
        return;
    const Caller& caller = kCallers[m_calls % std::size(kCallers)];
    m_ringsLeft = m_calls % 2 ? kRingsGivingUp : kRingsWaiting;
    ++m_calls;
    const QDateTime now = QDateTime::currentDateTime();
    QByteArray report = "DATE = " + now.toString("MMdd").toLatin1() + "\r\nTIME = " +
                        now.toString("HHmm").toLatin1() + "\r\nNMBR = " + caller.number;
    if (*caller.name)
        report += QByteArray("\r\nNAME = ") + caller.name;
    reply(report);
    ring();
    m_ringTimer.start();
}

void DemoModem::ring()
{
    if (m_offHook || m_voice.offHook() || m_ringsLeft-- <= 0) {
        m_ringTimer.stop();
        return;
    }
    reply("RING");
}

void DemoModem::reply(const QByteArray& text)
{
    // Verbose result codes stand on a line of their own.
    m_port.write("\r\n" + text + "\r\n");
}

} // namespace tova::demo
