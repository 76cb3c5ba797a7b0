#pragma once

#include "DemoVoice.h"

#include <QSerialPort>
#include <QTimer>

#include <chrono>
#include <vector>

namespace tova::demo {

// A Hayes modem in miniature on the far end of a serial line: it echoes what it is sent,
// answers every command line with "OK", and now and then a caller rings while the handset is
// down, with caller ID before the first ring; every other caller gives up after a few rings.
// Given the line's message, it is a voice modem too, that streams it (DemoVoice).
class DemoModem : public QObject {
    Q_OBJECT
public:
    DemoModem(const QString& portPath, std::chrono::milliseconds ringEvery,
              std::vector<int16_t> message = {});
    bool open();

private:
    void read();
    void command(const QByteArray& line);
    void call();
    void ring();
    void reply(const QByteArray& text);

    QSerialPort m_port;
    QTimer m_callTimer;
    QTimer m_ringTimer;
    QByteArray m_line;
    bool m_offHook = false;
    int m_calls = 0;
    int m_ringsLeft = 0;
    DemoVoice m_voice;
};

} // namespace tova::demo
