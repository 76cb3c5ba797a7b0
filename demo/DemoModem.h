#pragma once

#include <QSerialPort>
#include <QTimer>

#include <chrono>

namespace tova::demo {

// A Hayes modem in miniature on the far end of a serial line: it echoes what it is sent,
// answers every command line with "OK", and now and then a caller rings while the handset is
// down, with caller ID before the first ring; every other caller gives up after a few rings.
class DemoModem : public QObject {
    Q_OBJECT
public:
    DemoModem(const QString& portPath, std::chrono::milliseconds ringEvery);
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
};

} // namespace tova::demo
