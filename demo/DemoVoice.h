#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>

#include <chrono>
#include <optional>
#include <vector>

namespace tova::demo {

// The voice side of the demo modem: it answers the voice questions and commands, and once
// the program asks it to receive (AT+VRX) it streams the line's message as 16-bit samples at
// 8000 a second, DLE-coded as a voice modem does; after a while the caller hangs up and the
// line plays the Chinese busy tone, which the modem reports as DLE b.
class DemoVoice : public QObject {
    Q_OBJECT
public:
    DemoVoice(QSerialPort& port, std::vector<int16_t> message, std::chrono::seconds callLength);

    // The reply to a command line (without "AT" and blanks), or nothing when it is no voice
    // command. "CONNECT" starts the stream.
    std::optional<QByteArray> command(const QByteArray& body);
    bool offHook() const { return m_offHook; }
    bool streaming() const { return m_stream.isActive(); }
    // What the program sends while the modem streams: DLE ! ends the stream.
    void received(const QByteArray& bytes);

private:
    void stream();
    int16_t sampleAt(qint64 n) const;

    QSerialPort& m_port;
    std::vector<int16_t> m_message;
    qint64 m_callSamples;
    bool m_voiceClass = false;
    bool m_offHook = false;
    QTimer m_stream;
    QElapsedTimer m_since;
    qint64 m_sent = 0;
    QByteArray m_fromProgram;
};

} // namespace tova::demo
