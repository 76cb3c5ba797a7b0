#include "VoiceModem.h"

#include <QFileInfo>

#include <spandsp.h>

#include <cmath>
#include <numbers>

namespace tova::test {

namespace {
constexpr char kDle = 0x10;
constexpr int kAdpcmChunk = 1 << 30; // no headers, no resets
} // namespace

VoiceModem::VoiceModem(const QString& peerPath, const Chipset& chip)
    : m_chip(chip)
    , m_port(QFileInfo(peerPath).symLinkTarget())
    , m_encoder(ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, kAdpcmChunk))
    , m_decoder(ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, kAdpcmChunk)) {
    m_port.open(QIODevice::ReadWrite);
    connect(&m_port, &QSerialPort::readyRead, this, &VoiceModem::read);
    m_clock.setInterval(20);
    connect(&m_clock, &QTimer::timeout, this, &VoiceModem::tick);
}

VoiceModem::~VoiceModem() {
    ima_adpcm_free(m_encoder);
    ima_adpcm_free(m_decoder);
}

QByteArrayList VoiceModem::commandLines() const {
    QByteArrayList lines = m_commands.split('\r');
    lines.removeLast(); // what follows the last line end
    for (QByteArray& line : lines)
        line += '\r';
    return lines;
}

void VoiceModem::send(const QByteArray& bytes) {
    m_port.write(bytes);
    m_port.flush();
}

void VoiceModem::setDtr(bool on) {
    if (!on && m_streaming && m_chip.stop == Chipset::Dtr) endStream(false);
    if (!on) m_offHook = false;
}

void VoiceModem::stall(int ms) {
    m_stalledUntil = m_since.elapsed() + ms;
}

void VoiceModem::read() {
    const QByteArray bytes = m_port.readAll();
    if (m_streaming) {
        m_whileStreaming += bytes;
        const QByteArray stop = m_whileStreaming.mid(m_streamFrom);
        if ((m_chip.stop == Chipset::Dle && stop.contains("\x10!")) ||
            (m_chip.stop == Chipset::Triple && stop.contains("\x10\x10\x10!")) ||
            m_chip.stop == Chipset::AnyByte)
            endStream(true);
        return;
    }
    m_commands += bytes;
    if (m_chip.echo) send(bytes);
    for (const char c : bytes) {
        if (c != '\r') {
            m_line += c;
            continue;
        }
        command(std::exchange(m_line, {}).toUpper().replace(' ', QByteArray()));
    }
}

void VoiceModem::command(const QByteArray& line) {
    const auto result = [&](bool ok) { reply(ok ? "OK" : "ERROR"); };
    const QByteArray answers[] = {m_chip.classes, m_chip.formats, m_chip.lines};
    const QByteArray questions[] = {"AT+FCLASS=?", "AT+VSM=?", "AT+VLS=?"};
    for (int i = 0; i < 3; ++i)
        if (line == questions[i]) return send("\r\n" + answers[i] + "\r\n"), result(true);
    if (line.startsWith("AT+FCLASS=")) return m_class = line.mid(10).toInt(), result(true);
    if (line.startsWith("AT+VSM="))
        return result(m_class == 8 && line == "AT+VSM=" + QByteArray::number(m_chip.code) + ",8000");
    if (line.startsWith("AT+VLS=") || line.startsWith("ATD")) {
        m_offHook = m_class == 8 && line != "AT+VLS=0";
        return reply(m_offHook ? m_chip.offHook : "ERROR");
    }
    if (line == "ATH0" || line == "ATH") {
        m_offHook = false;
        if (m_chip.classReset) m_class = 0;
        return result(true);
    }
    if (line != "AT+VRX") return result(true);
    if (m_class != 8 || !m_offHook) return result(false);
    reply("CONNECT");
    m_streaming = true;
    m_streamFrom = m_whileStreaming.size();
    m_samples = 0;
    m_since.start();
    m_clock.start();
}

void VoiceModem::put(char byte, QByteArray& bytes) {
    if (byte == kDle && m_chip.sub && !std::exchange(m_held, !m_held)) return;
    if (byte == kDle) {
        bytes += m_chip.sub ? "\x10\x1a" : "\x10\x10";
        return;
    }
    if (std::exchange(m_held, false)) bytes += "\x10\x10";
    bytes += byte;
}

// A sample of the tone, coded as the chipset codes it; what a decoder gets back is kept.
void VoiceModem::sample(int16_t s, QByteArray& bytes) {
    int16_t decoded[2];
    switch (m_chip.coding) {
    case VoiceCoding::MuLaw:
        put(char(linear_to_ulaw(s)), bytes);
        return m_sent.push_back(ulaw_to_linear(linear_to_ulaw(s)));
    case VoiceCoding::ALaw:
        put(char(linear_to_alaw(s)), bytes);
        return m_sent.push_back(alaw_to_linear(linear_to_alaw(s)));
    case VoiceCoding::Linear8Unsigned:
        put(char((s >> 8) + 128), bytes);
        return m_sent.push_back(int16_t(s & ~0xFF));
    case VoiceCoding::ImaAdpcm: {
        if (m_samples % 2 == 0) return void(m_first = s);
        const int16_t pair[2] = {m_first, s};
        uint8_t byte = 0;
        ima_adpcm_encode(m_encoder, &byte, pair, 2);
        put(char(byte), bytes);
        ima_adpcm_decode(m_decoder, decoded, &byte, 1);
        m_sent.insert(m_sent.end(), decoded, decoded + 2);
        return;
    }
    default: // 16-bit, low byte first
        put(char(s & 0xFF), bytes);
        put(char(s >> 8), bytes);
        return m_sent.push_back(s);
    }
}

void VoiceModem::tick() {
    const qint64 now = m_since.elapsed();
    if (now < m_stalledUntil) return;
    QByteArray bytes;
    for (; m_samples < qint64(double(now) * m_chip.rate / 1000); ++m_samples) {
        sample(int16_t(std::lround(12000 * std::sin(2 * std::numbers::pi * 1000 * double(m_samples) /
                                                     m_chip.rate))),
               bytes);
        const qint64 second = m_samples / qint64(m_chip.rate);
        if ((m_samples + 1) % qint64(m_chip.rate) == 0 && second < m_chip.events.size())
            bytes += QByteArray(1, kDle) + m_chip.events.at(second);
    }
    qsizetype from = 0;
    for (qsizetype i = 0; m_chip.split && i < bytes.size(); ++i)
        if (bytes[i] == kDle) {
            send(bytes.mid(from, i + 1 - from));
            from = ++i;
        }
    send(bytes.mid(from));
}

void VoiceModem::endStream(bool etx) {
    m_clock.stop();
    tick();
    m_streaming = false;
    if (etx) send(m_chip.resultAfterEtx ? "\x10\x03\r\nOK\r\n" : "\x10\x03");
}

} // namespace tova::test
