#pragma once

#include <QObject>

#include <memory>
#include <stdexcept>

class QSerialPort;

namespace tova {

// Raised by the serial-port component for an open that fails, or a write to a closed port.
struct SerialPortError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Codes of the most recent communication event.
enum CommEventCode : short {
    comEvNone = 0,
    comEvReceive = 2,
    // The device went away under an open port (a USB modem unplugged); the port is closed.
    comEventDeviceLost = 1012,
};

// The serial-port component: one port at 9600 8N1, raising OnComm on received text.
class MSComm : public QObject {
    Q_OBJECT
public:
    static constexpr qint32 kBaudRate = 9600;
    static constexpr qint64 kInBufferSize = 1024;
    static constexpr qint64 kOutBufferSize = 512;

    explicit MSComm(QObject* parent = nullptr);
    ~MSComm() override;

    short CommPort() const { return m_commPort; }
    void setCommPort(short port) { m_commPort = port; }

    bool PortOpen() const;
    // True opens COM<CommPort>, throwing SerialPortError when it is missing or busy;
    // False closes it and does nothing on a closed port.
    void setPortOpen(bool open);

    // Sends a command line. Full-width forms fold to ASCII; a character with no ASCII form,
    // or a control character other than the final carriage return, is refused with nothing
    // written. Throws SerialPortError then, and on a closed port.
    void setOutput(const QString& text);

    short InBufferCount() const;
    // 0 throws away what was received and not read yet.
    void setInBufferCount(short count);

    // Everything received and not read yet; reading removes it.
    QString Input();

    short CommEvent() const { return m_commEvent; }

signals:
    void OnComm();

private:
    void requireOpen() const;
    void received();
    void failed();

    std::unique_ptr<QSerialPort> m_port;
    short m_commPort = 1;
    short m_commEvent = comEvNone;
};

// The bytes a command line puts on the line; throws SerialPortError when it has none.
QByteArray commandLineBytes(const QString& text);

} // namespace tova
