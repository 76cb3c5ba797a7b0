#include "DemoVoice.h"

#include <cmath>
#include <numbers>

namespace tova::demo {

namespace {

constexpr int kRate = 8000;
constexpr char kDle = 0x10;
constexpr std::chrono::milliseconds kStreamTick{20};
// The Chinese exchange's busy tone: 450 Hz, 350 ms on, 350 ms off; the modem says DLE b
// every few seconds while it hears it.
constexpr int kBusyHz = 450;
constexpr qint64 kBusyHalfCycle = kRate * 350 / 1000;
constexpr qint64 kBusyReport = 3 * kRate;

const QByteArray kClasses = "0,1,8";
const QByteArray kFormats = "128,\"8-BIT LINEAR\",(8000)\r\n129,\"16-BIT LINEAR\",(8000)";
const QByteArray kLines = "0,1,3";

} // namespace

DemoVoice::DemoVoice(QSerialPort& port, std::vector<int16_t> message,
                     std::chrono::seconds callLength)
    : m_port(port)
    , m_message(std::move(message))
    , m_callSamples(callLength.count() * kRate) {
    m_stream.setInterval(kStreamTick);
    connect(&m_stream, &QTimer::timeout, this, &DemoVoice::stream);
}

std::optional<QByteArray> DemoVoice::command(const QByteArray& body) {
    if (body == "H0" || body == "H") m_offHook = false; // and the modem's own hang-up runs
    if (body == "+FCLASS=?") return kClasses + "\r\n\r\nOK";
    if (body == "+VSM=?") return kFormats + "\r\n\r\nOK";
    if (body == "+VLS=?") return kLines + "\r\n\r\nOK";
    if (body.startsWith("+FCLASS=")) {
        m_voiceClass = body == "+FCLASS=8";
        return QByteArray("OK");
    }
    if (!body.startsWith("+V") && !(m_voiceClass && body.startsWith('D'))) return std::nullopt;
    if (body.startsWith("+VLS=") || body.startsWith('D')) m_offHook = body != "+VLS=0";
    if (body != "+VRX") return QByteArray("OK");
    if (!m_voiceClass || !m_offHook || m_message.empty()) return QByteArray("ERROR");
    m_sent = 0;
    m_fromProgram.clear();
    m_since.start();
    m_stream.start();
    return QByteArray("CONNECT");
}

void DemoVoice::received(const QByteArray& bytes) {
    m_fromProgram += bytes;
    if (!m_fromProgram.contains("\x10!")) return;
    m_stream.stop();
    m_offHook = false;
    m_port.write("\x10\x03\r\nOK\r\n");
}

// The message over and over, then the busy tone.
int16_t DemoVoice::sampleAt(qint64 n) const {
    if (n < m_callSamples) return m_message[size_t(n % qint64(m_message.size()))];
    const qint64 busy = n - m_callSamples;
    if ((busy / kBusyHalfCycle) % 2) return 0;
    return int16_t(
        std::lround(8000 * std::sin(2 * std::numbers::pi * kBusyHz * double(n) / kRate)));
}

void DemoVoice::stream() {
    QByteArray bytes;
    for (const qint64 due = m_since.elapsed() * kRate / 1000; m_sent < due; ++m_sent) {
        const int16_t s = sampleAt(m_sent);
        for (const char byte : {char(s & 0xFF), char(s >> 8)}) {
            if (byte == kDle) bytes += kDle;
            bytes += byte;
        }
        if (m_sent >= m_callSamples && (m_sent - m_callSamples) % kBusyReport == kBusyReport - 1)
            bytes += QByteArray(1, kDle) + 'b';
    }
    m_port.write(bytes);
}

} // namespace tova::demo
