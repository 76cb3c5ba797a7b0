#include "AudioBackend.h"

#include <QAudioSink>
#include <QAudioSource>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>

namespace tova {

namespace {

using namespace std::chrono_literals;

// A running capture that hands over nothing for this long has lost its source. PulseAudio
// may hand audio over in pieces of about 2 s.
constexpr std::chrono::milliseconds kStallLimit{6000};
constexpr std::chrono::milliseconds kPlayBuffer{250};
constexpr std::chrono::milliseconds kFeedInterval{10};

QAudioFormat qtFormat(const PcmFormat& format) {
    QAudioFormat f;
    f.setSampleRate(format.sampleRate);
    f.setChannelCount(format.channels);
    f.setSampleFormat(QAudioFormat::Int16);
    return f;
}

QString errorText(QAudio::Error error) {
    switch (error) {
    case QAudio::NoError:
        return {};
    case QAudio::OpenError:
        return QStringLiteral("the audio device could not be opened");
    case QAudio::IOError:
        return QStringLiteral("the audio device failed");
    case QAudio::UnderrunError:
        return QStringLiteral("the audio device ran dry");
    case QAudio::FatalError:
        return QStringLiteral("the sound system failed");
    }
    return QStringLiteral("unknown audio error");
}

// Reports once when the device that a stream runs on leaves the system: unplugged, or its
// sound server gone. Qt 6.4 gives the stream itself no error then.
class DeviceWatch {
public:
    DeviceWatch(const QAudioDevice& device, std::function<void()> gone)
        : m_id(device.id())
        , m_input(device.mode() == QAudioDevice::Input)
        , m_gone(std::move(gone)) {
        const auto changed =
            m_input ? &QMediaDevices::audioInputsChanged : &QMediaDevices::audioOutputsChanged;
        QObject::connect(
            &m_devices, changed, &m_devices, [this] { check(); }, Qt::QueuedConnection);
    }
    void disarm() { m_gone = nullptr; }

private:
    void check() {
        const QList<QAudioDevice> present =
            m_input ? QMediaDevices::audioInputs() : QMediaDevices::audioOutputs();
        for (const QAudioDevice& device : present)
            if (device.id() == m_id) return;
        if (m_gone) std::exchange(m_gone, nullptr)();
    }

    QMediaDevices m_devices;
    QByteArray m_id;
    bool m_input;
    std::function<void()> m_gone;
};

class QtAudioInput final : public AudioInput {
public:
    QtAudioInput(const QAudioDevice& device, const PcmFormat& format, Client& client)
        : m_source(device, qtFormat(format))
        , m_client(&client)
        , m_watch(device, [this] { lost(); }) {
        m_stallCheck.setInterval(1s);
        QObject::connect(&m_stallCheck, &QTimer::timeout, &m_context, [this] {
            if (m_sinceData.elapsed() > kStallLimit.count()) lost();
        });
    }
    ~QtAudioInput() override { stop(); }

    bool start(QString& failure) {
        m_io = m_source.start();
        // Without a sound server start() fails at once and no stateChanged follows.
        if (!m_io || m_source.error() != QAudio::NoError) {
            failure = errorText(m_source.error());
            if (failure.isEmpty()) failure = errorText(QAudio::OpenError);
            return false;
        }
        QObject::connect(m_io, &QIODevice::readyRead, &m_context, [this] { drain(); });
        m_sinceData.start();
        m_stallCheck.start();
        // Queued, so that the client may drop this input from inside the report.
        QObject::connect(
            &m_source, &QAudioSource::stateChanged, &m_context,
            [this](QAudio::State state) {
                if (m_client && state == QAudio::StoppedState &&
                    m_source.error() != QAudio::NoError)
                    std::exchange(m_client, nullptr)->inputFailed(errorText(m_source.error()));
            },
            Qt::QueuedConnection);
        return true;
    }

    void drain() override {
        char buffer[16384];
        while (m_client && m_io) {
            const qint64 got = m_io->read(buffer, sizeof buffer);
            if (got <= 0) break;
            m_sinceData.restart();
            m_client->captured(QByteArrayView(buffer, got));
        }
    }

    void stop() override {
        m_client = nullptr;
        m_watch.disarm();
        m_stallCheck.stop();
        QObject::disconnect(&m_source, nullptr, &m_context, nullptr);
        m_source.stop();
        m_io = nullptr;
    }

private:
    QObject m_context;
    QAudioSource m_source;
    void lost() {
        if (m_client) std::exchange(m_client, nullptr)->inputFailed(errorText(QAudio::FatalError));
    }

    // Qt deletes the device it hands out when the stream stops or fails.
    QPointer<QIODevice> m_io;
    Client* m_client;
    DeviceWatch m_watch;
    QTimer m_stallCheck;
    QElapsedTimer m_sinceData;
};

// Pushes the content into the sink as fast as it takes it. Qt 6.4 pulling from a device
// of ours tops up one piece per timer tick, which runs dry at short latencies and clicks.
class QtAudioOutput final : public AudioOutput {
public:
    QtAudioOutput(const QAudioDevice& device, const PcmFormat& format, Client& client)
        : m_sink(device, qtFormat(format))
        , m_client(&client)
        , m_format(format)
        , m_watch(device, [this] { fail(QAudio::FatalError); }) {
        m_feedTimer.setInterval(kFeedInterval);
        QObject::connect(&m_feedTimer, &QTimer::timeout, &m_context, [this] { feed(); });
    }
    ~QtAudioOutput() override { stop(); }

    bool start(QString& failure) {
        m_sink.setBufferSize(m_sink.format().bytesForDuration(kPlayBuffer.count() * 1000));
        m_io = m_sink.start();
        if (!m_io || m_sink.error() != QAudio::NoError) {
            failure = errorText(m_sink.error());
            if (failure.isEmpty()) failure = errorText(QAudio::OpenError);
            return false;
        }
        QObject::connect(
            &m_sink, &QAudioSink::stateChanged, &m_context,
            [this](QAudio::State state) {
                if (state == QAudio::StoppedState && m_sink.error() != QAudio::NoError)
                    fail(m_sink.error());
            },
            Qt::QueuedConnection);
        m_feedTimer.start();
        QTimer::singleShot(0, &m_context, [this] { feed(); });
        return true;
    }

    qint64 playedFrames() const override {
        return m_sink.processedUSecs() * m_format.sampleRate / 1'000'000;
    }

    void stop() override {
        m_client = nullptr;
        m_watch.disarm();
        m_feedTimer.stop();
        QObject::disconnect(&m_sink, nullptr, &m_context, nullptr);
        m_sink.stop();
        m_io = nullptr;
    }

private:
    void feed() {
        if (!m_client || !m_io) return;
        if (!m_client->suppliedAll()) {
            const qint64 room =
                m_sink.bytesFree() / m_format.bytesPerFrame() * m_format.bytesPerFrame();
            if (room <= 0) return;
            QByteArray piece(room, Qt::Uninitialized);
            const qint64 got = m_client->supply(piece.data(), room);
            if (got > 0) m_io->write(piece.constData(), got);
            m_suppliedFrames += got / m_format.bytesPerFrame();
            return;
        }
        // Everything is with the server; it is over once the server has played it.
        if (!m_draining.isValid()) m_draining.start();
        const qint64 grace = kPlayBuffer.count() + 500;
        if (playedFrames() >= m_suppliedFrames || m_draining.elapsed() > grace) {
            m_feedTimer.stop();
            std::exchange(m_client, nullptr)->outputFinished();
        }
    }

    void fail(QAudio::Error error) {
        if (m_client) std::exchange(m_client, nullptr)->outputFailed(errorText(error));
    }

    QObject m_context;
    QAudioSink m_sink;
    // Qt deletes the device it hands out when the stream stops or fails.
    QPointer<QIODevice> m_io;
    Client* m_client;
    PcmFormat m_format;
    DeviceWatch m_watch;
    QTimer m_feedTimer;
    QElapsedTimer m_draining;
    qint64 m_suppliedFrames = 0;
};

} // namespace

std::unique_ptr<AudioInput>
QtAudioBackend::startInput(const PcmFormat& format, AudioInput::Client& client, QString& failure) {
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull()) {
        failure = QStringLiteral("no audio input device");
        return nullptr;
    }
    auto input = std::make_unique<QtAudioInput>(device, format, client);
    if (!input->start(failure)) return nullptr;
    return input;
}

std::unique_ptr<AudioOutput> QtAudioBackend::startOutput(const PcmFormat& format,
                                                         AudioOutput::Client& client,
                                                         QString& failure) {
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        failure = QStringLiteral("no audio output device");
        return nullptr;
    }
    auto output = std::make_unique<QtAudioOutput>(device, format, client);
    if (!output->start(failure)) return nullptr;
    return output;
}

} // namespace tova
