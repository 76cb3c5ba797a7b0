#pragma once

#include <QSerialPort>
#include <QTimer>

#include <chrono>

namespace tova::demo {

// A Hayes modem in miniature on the far end of a serial line: it echoes what it is sent,
// answers every command line with "OK", and rings now and then while the handset is down.
class DemoModem : public QObject {
    Q_OBJECT
public:
    DemoModem(const QString& portPath, std::chrono::milliseconds ringEvery);
    bool open();

private:
    void read();
    void command(const QByteArray& line);
    void ring();
    void reply(const QByteArray& text);

    QSerialPort m_port;
    QTimer m_ringTimer;
    QByteArray m_line;
    bool m_offHook = false;
};

} // namespace tova::demo
