#pragma once

#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

namespace tova {

// Raised by the serial-port component for an open that fails, or a write that fails.
struct SerialPortError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Codes of the most recent communication event, numbered as the communications control
// this component stands in for numbers them.
enum CommEventCode : short {
    comEvNone = 0,
    comEvReceive = 2,
    comEvCTS = 3,
    comEvDSR = 4,
    comEvCD = 5,
    comEvRing = 6,
    // The device went away under an open port (a USB modem unplugged); the port is closed.
    comEventDeviceLost = 1012,
};

// The serial-port component: one port at 9600 8N1, raising OnComm on received text and on a
// change of the clear-to-send, data-set-ready, carrier-detect and ring-indicator lines.
class MSComm : public QObject {
    Q_OBJECT
public:
    static constexpr qint32 kBaudRate = 9600;
    static constexpr qint64 kInBufferSize = 1024;

    // Reads the modem control lines of the open port; nothing when the port cannot tell them.
    using PinSource = std::function<std::optional<QSerialPort::PinoutSignals>(QSerialPort&)>;
    // Sets the data-terminal-ready line of the open port; false when the port has none.
    using DtrSink = std::function<bool(QSerialPort&, bool)>;

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
    // written. Throws SerialPortError then, on a closed port and when the write fails. Returns
    // once the whole line is with the driver, so that closing the port next cannot drop it.
    void setOutput(const QString& text);

    short InBufferCount() const;
    // 0 throws away what was received and not read yet.
    void setInBufferCount(short count);

    // Everything received and not read yet; reading removes it.
    QString Input();

    short CommEvent() const { return m_commEvent; }

    // Where the line states come from; the port's own by default.
    void setPinSource(PinSource source);

    // Bytes as they are, such as a voice modem's DLE codes; throws as setOutput does.
    void setOutputBytes(const QByteArray& bytes);
    // Lowering DTR hangs up a modem set to &D2.
    void setDTREnable(bool on);
    void setDtrSink(DtrSink sink) { m_dtrSink = std::move(sink); }
    void setBaudRate(qint32 rate);
    // While on, what the modem sends is a sample stream, not text: it raises no OnComm, and it
    // is read in batches every 100 ms, in step with the windows' timers, never woken by each
    // piece the device hands over; each batch comes by Batch.
    void setStreaming(bool on);
    // Reads at once what the device holds, for Batch.
    void readBatch();

signals:
    void OnComm();
    void Batch(const QByteArray& bytes);

private:
    void requireOpen() const;
    void received();
    void failed();
    void deviceLost();
    void watchPins();
    void pollPins();
    void write(const QByteArray& bytes);
    void setReadNotification(bool on);

    std::unique_ptr<QSerialPort> m_port;
    short m_commPort = 1;
    short m_commEvent = comEvNone;
    PinSource m_pinSource;
    QTimer m_pinPoll;
    QSerialPort::PinoutSignals m_pins;
    DtrSink m_dtrSink;
    bool m_streaming = false;
    QTimer m_batchTimer;
};

} // namespace tova
