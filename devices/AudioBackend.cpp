#include "AudioBackend.h"

#include <QAudioSink>
#include <QAudioSource>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QTimer>

#include <chrono>

namespace tova {

namespace {

using namespace std::chrono_literals;

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

class QtAudioInput final : public AudioInput {
public:
    QtAudioInput(const QAudioDevice& device, const PcmFormat& format, Client& client)
        : m_source(device, qtFormat(format))
        , m_client(&client) {}
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
            m_client->captured(QByteArrayView(buffer, got));
        }
    }

    void stop() override {
        m_client = nullptr;
        QObject::disconnect(&m_source, nullptr, &m_context, nullptr);
        if (m_io) QObject::disconnect(m_io, nullptr, &m_context, nullptr);
        m_source.stop();
        m_io = nullptr;
    }

private:
    QObject m_context;
    QAudioSource m_source;
    QIODevice* m_io = nullptr;
    Client* m_client;
};

// The sink pulls the content from here as it needs it.
class Feed final : public QIODevice {
public:
    explicit Feed(AudioOutput::Client& client)
        : m_client(&client) {}
    void detach() { m_client = nullptr; }
    qint64 supplied() const { return m_supplied; }
    bool isSequential() const override { return true; }
    bool atEnd() const override { return !m_client || m_client->suppliedAll(); }
    qint64 bytesAvailable() const override {
        return QIODevice::bytesAvailable() + (atEnd() ? 0 : 1 << 16);
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 got = m_client ? m_client->supply(data, maxSize) : 0;
        m_supplied += got;
        return got;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    AudioOutput::Client* m_client;
    qint64 m_supplied = 0;
};

class QtAudioOutput final : public AudioOutput {
public:
    QtAudioOutput(const QAudioDevice& device, const PcmFormat& format, Client& client)
        : m_sink(device, qtFormat(format))
        , m_feed(client)
        , m_client(&client)
        , m_sampleRate(format.sampleRate) {
        m_drainPoll.setInterval(20ms);
        QObject::connect(&m_drainPoll, &QTimer::timeout, &m_context, [this] { checkDrained(); });
    }
    ~QtAudioOutput() override { stop(); }

    bool start(QString& failure) {
        m_feed.open(QIODevice::ReadOnly);
        m_sink.start(&m_feed);
        if (m_sink.error() != QAudio::NoError) {
            failure = errorText(m_sink.error());
            return false;
        }
        QObject::connect(
            &m_sink, &QAudioSink::stateChanged, &m_context,
            [this](QAudio::State state) { stateChanged(state); }, Qt::QueuedConnection);
        return true;
    }

    qint64 playedFrames() const override {
        return m_sink.processedUSecs() * m_sampleRate / 1'000'000;
    }

    void stop() override {
        m_client = nullptr;
        m_feed.detach();
        m_drainPoll.stop();
        QObject::disconnect(&m_sink, nullptr, &m_context, nullptr);
        m_sink.stop();
    }

private:
    void stateChanged(QAudio::State state) {
        if (!m_client) return;
        const QAudio::Error error = m_sink.error();
        if (state == QAudio::StoppedState && error != QAudio::NoError) {
            std::exchange(m_client, nullptr)->outputFailed(errorText(error));
        } else if (state == QAudio::IdleState && m_client->suppliedAll() &&
                   !m_drainPoll.isActive()) {
            // The sink has taken the last piece; the server still holds some of it.
            m_draining.start();
            m_drainPoll.start();
        }
    }

    qint64 usecsOf(qint64 bytes) const {
        return bytes / (2 * m_sink.format().channelCount()) * 1'000'000 / m_sampleRate;
    }

    void checkDrained() {
        if (!m_client) return;
        const qint64 grace = usecsOf(m_sink.bufferSize()) + 500'000;
        if (m_sink.processedUSecs() >= usecsOf(m_feed.supplied()) ||
            m_draining.elapsed() * 1000 > grace) {
            m_drainPoll.stop();
            std::exchange(m_client, nullptr)->outputFinished();
        }
    }

    QObject m_context;
    QAudioSink m_sink;
    Feed m_feed;
    Client* m_client;
    int m_sampleRate;
    QTimer m_drainPoll;
    QElapsedTimer m_draining;
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
