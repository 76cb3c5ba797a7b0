#pragma once

#include "VoiceFormat.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QTimer>

#include <spandsp.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace tova::test {

// One chipset's part in a call: its answers, the format a recorder must choose from them
// (coded as coding, with line selection vls), and how it streams and stops.
struct Chipset {
    const char* name;
    QByteArray classes, formats, lines; // to AT+FCLASS=?, AT+VSM=?, AT+VLS=?
    int code = -1;                      // -1: it cannot record
    const char* format = "";
    VoiceCoding coding = VoiceCoding::MuLaw;
    int vls = 1;
    QByteArray offHook = "OK"; // the result of AT+VLS=n and ATD: OK or VCON
    bool echo = true;
    enum Stop { Dle, AnyByte, Triple, Dtr } stop = Dle; // what ends its AT+VRX
    bool split = false;                                 // every DLE and its code in two writes
    bool sub = false;                                   // a pair of 0x10 bytes sent as DLE SUB
    double rate = 8000;                                 // samples a second its stream runs at
    bool resultAfterEtx = true;
    bool classReset = false; // back in class 0 after every hang-up
    QByteArray events{};     // DLE codes sent mid-stream, one a second
};

// What real modems answer, as their manuals and their users give it.
inline const QByteArray kCx93001 =
    "0,\"SIGNED PCM\",8,0,8000,0,0\r\n1,\"UNSIGNED PCM\",8,0,8000,0,0\r\n129,\"IMA ADPCM\",4,0,"
    "8000,0,0\r\n130,\"UNSIGNED PCM\",8,0,8000,0,0\r\n131,\"Mu-Law\",8,0,8000,0,0\r\n132,\"A-Law\","
    "8,0,8000,0,0\r\n133,\"14 bit PCM\",14,0,8000,0,0";
inline const QList<Chipset> kChipsets{
    {"Conexant CX93001, long answers", "0,1,1.0,2,8", kCx93001, "0,1,4,5,6,8,9,11,13", 131,
     "Mu-Law"},
    {"U.S. Robotics 5637, short answers, no echo", "(0-2,8)",
     "128,\"8-BIT LINEAR\",(7200,8000,11025)\r\n129,\"16-BIT LINEAR\",(7200,8000,11025)\r\n130,\""
     "8-BIT ALAW\",(8000)\r\n131,\"8-BIT ULAW\",(8000)\r\n132,\"IMA ADPCM\",(7200,8000,11025)",
     "0-8", 129, "16-BIT LINEAR", VoiceCoding::Linear16, 3, "OK", false},
    {"ZyXEL, semicolons, VCON", "0,1,2,8",
     "1;CELP;1;0;(9600)\r\n4;8-BIT A-LAW;8;0;(7200-8000,11025)", "0,1", 4, "8-BIT A-LAW",
     VoiceCoding::ALaw, 1, "VCON"},
    {"Rockwell, any byte stops it, DLE pairs split, DLE SUB", "0,1,8",
     "1,\"UNSIGNED PCM\",8,0,(7200,8000,11025),0,0\r\n129,\"IMA ADPCM\",4,0,(7200,8000),0,0\r\n141,"
     "\"4 Bit ADPCM\",4,0,8000,0,0",
     "0,1,2", 1, "UNSIGNED PCM", VoiceCoding::Linear8Unsigned, 1, "OK", true, Chipset::AnyByte,
     true, true},
    {"ADPCM only", "8", "129,\"IMA ADPCM\",4,0,8000,0,0", "1", 129, "IMA ADPCM",
     VoiceCoding::ImaAdpcm},
    {"Zoom 3095, the triple stop only", "0,1,8", kCx93001, "0,1,4,5", 131, "Mu-Law",
     VoiceCoding::MuLaw, 1, "OK", true, Chipset::Triple},
    {"a DTR drop only, no result after ETX", "0,1,8", kCx93001, "0,1", 131, "Mu-Law",
     VoiceCoding::MuLaw, 1, "OK", true, Chipset::Dtr, false, false, 8000, false},
    {"12-bit, 7200 only", "0,8",
     "128,\"SIGNED PCM\",12,0,(7200-8000,11025),(127-129),(0-50)\r\n"
     "130,\"Mu-Law\",8,0,(7200),0,0",
     "1"},
    {"no voice class", "0,1,1.0,2.0,80", kCx93001, "1"},
};

// A voice modem at the peer end of a PtyPair, playing a chipset's part byte for byte. It
// streams a 1 kHz tone at its own clock, and keeps what a decoder gets back from it.
class VoiceModem : public QObject {
public:
    VoiceModem(const QString& peerPath, const Chipset& chip)
        : m_chip(chip)
        , m_port(QFileInfo(peerPath).symLinkTarget()) {
        m_port.open(QIODevice::ReadWrite);
        connect(&m_port, &QSerialPort::readyRead, this, &VoiceModem::read);
        m_clock.callOnTimeout(this, &VoiceModem::tick);
    }
    ~VoiceModem() override { ima_adpcm_free(m_encoder), ima_adpcm_free(m_decoder); }

    // The command lines the program sent, and what it sent while the modem streamed.
    QByteArrayList commandLines() const { return m_lines; }
    QByteArray sentWhileStreaming() const { return m_whileStreaming; }
    const std::vector<int16_t>& sent() const { return m_sent; }
    bool streaming() const { return m_clock.isActive(); }
    // The DTR line, which a pseudo-terminal does not carry.
    void setDtr(bool on) {
        if (!on && streaming() && m_chip.stop == Chipset::Dtr) endStream(false);
    }
    // Sends nothing for ms, then catches up with its clock as a modem's buffer does.
    void stall(int ms) { m_stalledUntil = m_since.elapsed() + ms; }

private:
    void send(const QByteArray& bytes) { m_port.write(bytes), m_port.flush(); }
    void reply(const QByteArray& word) { send("\r\n" + word + "\r\n"); }

    void read() {
        const QByteArray bytes = m_port.readAll();
        if (streaming()) {
            const QByteArray stop = (m_whileStreaming += bytes).mid(m_streamFrom);
            if (m_chip.stop == Chipset::AnyByte ||
                (m_chip.stop == Chipset::Dle && stop.contains("\x10!")) ||
                (m_chip.stop == Chipset::Triple && stop.contains("\x10\x10\x10!")))
                endStream(true);
            return;
        }
        if (m_chip.echo) send(bytes);
        for (const char c : bytes)
            if ((m_line += c).endsWith('\r'))
                m_lines << m_line,
                    command(std::exchange(m_line, {}).toUpper().replace(' ', "").chopped(1));
    }

    void command(const QByteArray& line) {
        const auto result = [&](bool ok) { reply(ok ? "OK" : "ERROR"); };
        const QByteArray questions[][2] = {{"AT+FCLASS=?", m_chip.classes},
                                           {"AT+VSM=?", m_chip.formats},
                                           {"AT+VLS=?", m_chip.lines}};
        for (const auto& [question, answer] : questions)
            if (line == question) return send("\r\n" + answer + "\r\n"), result(true);
        if (line.startsWith("AT+FCLASS=")) return m_class = line.mid(10).toInt(), result(true);
        if (line.startsWith("AT+VSM="))
            return result(m_class == 8 &&
                          line == "AT+VSM=" + QByteArray::number(m_chip.code) + ",8000");
        if (line.startsWith("AT+VLS=") || line.startsWith("ATD")) {
            m_offHook = m_class == 8 && line != "AT+VLS=0";
            return reply(m_offHook ? m_chip.offHook : "ERROR");
        }
        if (line == "ATH0") m_offHook = false, m_class = m_chip.classReset ? 0 : m_class;
        if (line != "AT+VRX") return result(true);
        if (m_class != 8 || !m_offHook) return result(false);
        reply("CONNECT");
        m_streamFrom = m_whileStreaming.size();
        m_samples = 0;
        m_since.start();
        m_clock.start(20);
    }

    // A 0x10 byte is sent as DLE DLE, or two of them as DLE SUB.
    void put(char byte, QByteArray& bytes) {
        if (byte == 0x10 && m_chip.sub && !std::exchange(m_held, !m_held)) return;
        if (byte == 0x10) return void(bytes += m_chip.sub ? "\x10\x1a" : "\x10\x10");
        if (std::exchange(m_held, false)) bytes += "\x10\x10";
        bytes += byte;
    }

    // A sample of the tone as the chipset codes it; what a decoder gets back is kept.
    void sample(int16_t s, QByteArray& bytes) {
        switch (m_chip.coding) {
        case VoiceCoding::MuLaw:
            return put(char(linear_to_ulaw(s)), bytes),
                   m_sent.push_back(ulaw_to_linear(linear_to_ulaw(s)));
        case VoiceCoding::ALaw:
            return put(char(linear_to_alaw(s)), bytes),
                   m_sent.push_back(alaw_to_linear(linear_to_alaw(s)));
        case VoiceCoding::Linear8Unsigned:
            return put(char((s >> 8) + 128), bytes), m_sent.push_back(int16_t(s & ~0xFF));
        case VoiceCoding::ImaAdpcm: { // two samples a byte
            if (m_samples % 2 == 0) return void(m_first = s);
            const int16_t pair[2] = {m_first, s};
            uint8_t byte = 0;
            ima_adpcm_encode(m_encoder, &byte, pair, 2);
            put(char(byte), bytes);
            int16_t decoded[2];
            ima_adpcm_decode(m_decoder, decoded, &byte, 1);
            return void(m_sent.insert(m_sent.end(), decoded, decoded + 2));
        }
        default: // 16-bit, low byte first
            return put(char(s & 0xFF), bytes), put(char(s >> 8), bytes), m_sent.push_back(s);
        }
    }

    void tick() {
        if (m_since.elapsed() < m_stalledUntil) return;
        QByteArray bytes;
        for (; m_samples < qint64(double(m_since.elapsed()) * m_chip.rate / 1000); ++m_samples) {
            const double t = double(m_samples) / m_chip.rate;
            sample(int16_t(std::lround(12000 * std::sin(2 * std::numbers::pi * 1000 * t))), bytes);
            const qint64 second = m_samples / qint64(m_chip.rate);
            if ((m_samples + 1) % qint64(m_chip.rate) == 0 && second < m_chip.events.size())
                bytes += QByteArray(1, 0x10) + m_chip.events.at(second);
        }
        qsizetype from = 0;
        for (qsizetype i = 0; m_chip.split && i < bytes.size(); ++i)
            if (bytes[i] == 0x10) send(bytes.mid(from, i + 1 - from)), from = ++i;
        send(bytes.mid(from));
    }

    void endStream(bool etx) {
        tick();
        m_clock.stop();
        if (etx) send(m_chip.resultAfterEtx ? "\x10\x03\r\nOK\r\n" : "\x10\x03");
    }

    Chipset m_chip;
    QSerialPort m_port;
    QByteArray m_whileStreaming, m_line;
    QByteArrayList m_lines;
    int m_class = 0;
    bool m_offHook = false, m_held = false;
    qsizetype m_streamFrom = 0;
    QTimer m_clock;
    QElapsedTimer m_since;
    qint64 m_samples = 0, m_stalledUntil = 0;
    ima_adpcm_state_t* m_encoder = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 1 << 30);
    ima_adpcm_state_t* m_decoder = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 1 << 30);
    int16_t m_first = 0;
    std::vector<int16_t> m_sent;
};

} // namespace tova::test
