#include "MSComm.h"

#include "CommPortNames.h"

#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <utility>

#include <poll.h>
#include <unistd.h>

namespace tova {

namespace {

// Often enough that a ring-indicator pulse of a second or two is not missed, and in step with
// the windows' 100 ms timers, so that both share one wake-up.
constexpr std::chrono::milliseconds kPinInterval{100};
// A stream's batches, in step with the same timers: 800 bytes of 8-bit samples, 1.6 kB of 16-bit.
constexpr std::chrono::milliseconds kBatchInterval{100};
// A command line is short: the driver takes it at once unless the line is stuck.
constexpr std::chrono::milliseconds kWriteLimit{1000};

constexpr std::pair<QSerialPort::PinoutSignal, CommEventCode> kLineEvents[] = {
    {QSerialPort::ClearToSendSignal, comEvCTS},
    {QSerialPort::DataSetReadySignal, comEvDSR},
    {QSerialPort::DataCarrierDetectSignal, comEvCD},
    {QSerialPort::RingIndicatorSignal, comEvRing},
};

std::optional<QSerialPort::PinoutSignals> portPins(QSerialPort& port)
{
    port.clearError();
    const QSerialPort::PinoutSignals pins = port.pinoutSignals();
    // A pseudo-terminal has no modem lines: reading them fails.
    if (port.error() != QSerialPort::NoError)
        return std::nullopt;
    return pins;
}

QByteArray commandLineBytes(const QString& text)
{
    const QString folded = text.normalized(QString::NormalizationForm_KC);
    QByteArray bytes;
    bytes.reserve(folded.size());
    for (qsizetype i = 0; i < folded.size(); ++i) {
        const char16_t c = folded.at(i).unicode();
        const bool finalReturn = c == u'\r' && i == folded.size() - 1;
        // A control character in the text could put a second command on the line.
        if (c > 0x7E || (c < 0x20 && !finalReturn))
            throw SerialPortError("the text holds a character that cannot go on the line");
        bytes.append(static_cast<char>(c));
    }
    return bytes;
}

} // namespace

MSComm::MSComm(QObject* parent)
    : QObject(parent)
    , m_port(std::make_unique<QSerialPort>())
    , m_pinSource(portPins)
{
    m_port->setBaudRate(kBaudRate);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    // Past this the port stops reading and the driver holds the rest: nothing is dropped.
    m_port->setReadBufferSize(kInBufferSize);
    connect(m_port.get(), &QSerialPort::readyRead, this, &MSComm::received);
    connect(m_port.get(), &QSerialPort::errorOccurred, this, &MSComm::failed);
    connect(m_port.get(), &QSerialPort::aboutToClose, &m_pinPoll, &QTimer::stop);
    m_pinPoll.setInterval(kPinInterval);
    connect(&m_pinPoll, &QTimer::timeout, this, &MSComm::pollPins);
    m_dtrSink = [](QSerialPort& port, bool on) { return port.setDataTerminalReady(on); };
    m_batchTimer.setInterval(kBatchInterval);
    connect(&m_batchTimer, &QTimer::timeout, this, &MSComm::readBatch);
    connect(m_port.get(), &QSerialPort::aboutToClose, this, [this] { setStreaming(false); });
}

MSComm::~MSComm() = default;

bool MSComm::PortOpen() const { return m_port->isOpen(); }

void MSComm::setPortOpen(bool open)
{
    if (!open) {
        m_port->close();
        return;
    }
    if (m_port->isOpen())
        throw SerialPortError("the port is already open");
    m_port->setPortName(commPortPath(m_commPort));
    if (!m_port->open(QIODevice::ReadWrite))
        throw SerialPortError(QStringLiteral("COM%1 (%2): %3")
                                  .arg(m_commPort)
                                  .arg(m_port->portName(), m_port->errorString())
                                  .toStdString());
    watchPins();
}

void MSComm::setOutput(const QString& text)
{
    requireOpen();
    write(commandLineBytes(text));
}

void MSComm::setOutputBytes(const QByteArray& bytes)
{
    requireOpen();
    write(bytes);
}

void MSComm::write(const QByteArray& bytes)
{
    // A device that went away fails the flush, and its port is closed by then.
    if (m_port->write(bytes) != bytes.size() || !m_port->flush() || !m_port->isOpen() ||
        (m_port->bytesToWrite() > 0 && !m_port->waitForBytesWritten(kWriteLimit.count())))
        throw SerialPortError(m_port->errorString().toStdString());
}

short MSComm::InBufferCount() const
{
    return m_port->isOpen() ? static_cast<short>(m_port->bytesAvailable()) : 0;
}

void MSComm::setInBufferCount(short count)
{
    requireOpen();
    if (count == 0) {
        m_port->clear(QSerialPort::Input);
        m_port->readAll();
    }
}

QString MSComm::Input()
{
    if (!m_port->isOpen())
        return {};
    return QString::fromLatin1(m_port->readAll());
}

void MSComm::requireOpen() const
{
    if (!m_port->isOpen())
        throw SerialPortError("the port is not open");
}

void MSComm::received()
{
    if (m_streaming)
        return;
    m_commEvent = comEvReceive;
    emit OnComm();
}

void MSComm::failed()
{
    const QSerialPort::SerialPortError error = m_port->error();
    // A vanished device reports its error again at every poll: close to stop that.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    deviceLost();
}

void MSComm::deviceLost()
{
    if (!m_port->isOpen())
        return;
    m_port->close();
    m_commEvent = comEventDeviceLost;
    emit OnComm();
}

void MSComm::setPinSource(PinSource source)
{
    m_pinSource = std::move(source);
    watchPins();
}

void MSComm::watchPins()
{
    const auto pins = m_port->isOpen() ? m_pinSource(*m_port) : std::nullopt;
    if (!pins)
        return m_pinPoll.stop();
    m_pins = *pins;
    m_pinPoll.start();
}

void MSComm::pollPins()
{
    const auto pins = m_pinSource(*m_port);
    if (!pins)
        return m_pinPoll.stop();
    const QSerialPort::PinoutSignals changed = *pins ^ m_pins;
    m_pins = *pins;
    for (const auto& [pin, event] : kLineEvents) {
        if (!changed.testFlag(pin))
            continue;
        m_commEvent = event;
        emit OnComm();
    }
}

} // namespace tova

namespace tova {

void MSComm::setDTREnable(bool on)
{
    requireOpen();
    m_dtrSink(*m_port, on);
}

void MSComm::setBaudRate(qint32 rate)
{
    m_port->setBaudRate(rate);
}

// Qt's serial port reads whatever the device hands over as soon as it comes; while streaming
// its notifier rests and the batches are read here.
void MSComm::setReadNotification(bool on)
{
    for (QSocketNotifier* notifier : m_port->findChildren<QSocketNotifier*>())
        if (notifier->type() == QSocketNotifier::Read)
            notifier->setEnabled(on);
}

void MSComm::setStreaming(bool on)
{
    if (on == m_streaming || (on && !m_port->isOpen()))
        return;
    m_streaming = on;
    if (!on) {
        m_batchTimer.stop();
        if (m_port->isOpen())
            setReadNotification(true);
        return;
    }
    const QByteArray held = m_port->readAll();
    setReadNotification(false);
    m_batchTimer.start();
    if (!held.isEmpty())
        emit Batch(held);
}

void MSComm::readBatch()
{
    if (!m_streaming)
        return;
    QByteArray bytes;
    char piece[4096];
    ssize_t got;
    while ((got = ::read(m_port->handle(), piece, sizeof piece)) > 0)
        bytes.append(piece, got);
    // With no data the read gives 0 or EAGAIN; a device gone hangs the line up.
    pollfd line{m_port->handle(), POLLIN, 0};
    const bool gone = (got < 0 && errno != EAGAIN && errno != EINTR) ||
                      (::poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)));
    if (!bytes.isEmpty())
        emit Batch(bytes);
    // The device went away under the stream, as failed() sees it otherwise.
    if (gone)
        deviceLost();
}

} // namespace tova
