#pragma once

#include "VoiceFormat.h"

#include <QByteArrayList>

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>

#include <vector>

struct ima_adpcm_state_s;

namespace tova::test {

// One chipset's part in a call: what it answers and how it streams and stops.
struct Chipset {
    QByteArray classes, formats, lines; // its answers to AT+FCLASS=?, AT+VSM=?, AT+VLS=?
    int code = 0;                       // the format a recorder must choose, coded as coding
    VoiceCoding coding = VoiceCoding::MuLaw;
    QByteArray offHook = "OK";          // the result of AT+VLS=n and ATD: OK or VCON
    bool echo = true;
    double rate = 8000;                 // samples a second its stream runs at
    enum Stop { Dle, Triple, Dtr, AnyByte } stop = Dle; // what ends its AT+VRX
    bool resultAfterEtx = true;
    bool classReset = false;            // back in class 0 after every hang-up
    QByteArray events{};                // DLE codes sent mid-stream, one a second
    bool split = false;                 // every DLE and its code in two writes
    bool sub = false;                   // a pair of 0x10 bytes sent as DLE SUB
};

// A voice modem at the peer end of a PtyPair, playing a chipset's part byte for byte. It
// streams a 1 kHz tone at its own clock, and keeps what a recorder must get back from it.
class VoiceModem : public QObject {
public:
    VoiceModem(const QString& peerPath, const Chipset& chip);

    ~VoiceModem() override;
    // The command lines the program sent, and what it sent while the modem streamed.
    QByteArrayList commandLines() const;
    QByteArray sentWhileStreaming() const { return m_whileStreaming; }
    // Every sample streamed, as decoded from the bytes sent.
    const std::vector<int16_t>& sent() const { return m_sent; }
    bool streaming() const { return m_streaming; }
    // The DTR line, which a pseudo-terminal does not carry.
    void setDtr(bool on);
    void send(const QByteArray& bytes);
    // Sends nothing for ms, then catches up with its clock as a modem's buffer does.
    void stall(int ms);

private:
    void read();
    void command(const QByteArray& line);
    void reply(const QByteArray& word) { send("\r\n" + word + "\r\n"); }
    void tick();
    void sample(int16_t s, QByteArray& bytes);
    void put(char byte, QByteArray& bytes);
    void endStream(bool etx);

    Chipset m_chip;
    QSerialPort m_port;
    QByteArray m_commands, m_whileStreaming, m_line;
    int m_class = 0;
    bool m_offHook = false, m_streaming = false;
    qsizetype m_streamFrom = 0; // where in m_whileStreaming this stream's bytes begin
    bool m_held = false;        // a 0x10 byte waiting for its neighbour, for DLE SUB
    ima_adpcm_state_s* m_encoder;
    ima_adpcm_state_s* m_decoder;
    int16_t m_first = 0;        // an ADPCM sample waiting for the second of its byte
    QTimer m_clock;
    QElapsedTimer m_since;
    qint64 m_samples = 0, m_stalledUntil = 0;
    std::vector<int16_t> m_sent;
};

} // namespace tova::test
