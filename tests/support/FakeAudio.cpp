#include "FakeAudio.h"

#include "AudioBackend.h"
#include "WavContent.h"

#include <QIODevice>

#include <cmath>
#include <numbers>
#include <set>

namespace tova::test {

namespace {

constexpr double kToneHz = 440.0;
constexpr double kToneAmplitude = 0.5 * 32767;

// Streams stay registered here while they run, even after the fake has gone.
struct Streams {
    std::set<class FakeInput*> inputs;
    std::set<class FakeOutput*> outputs;
};

qint64 framesIn(std::chrono::milliseconds d, int sampleRate) {
    return d.count() * sampleRate / 1000;
}

class FakeInput final : public AudioInput {
public:
    FakeInput(std::shared_ptr<Streams> streams, const PcmFormat& format, Client& client)
        : m_streams(std::move(streams))
        , m_format(format)
        , m_client(&client) {
        m_streams->inputs.insert(this);
    }
    ~FakeInput() override { m_streams->inputs.erase(this); }

    void stop() override { m_client = nullptr; }
    void drain() override {}

    void deliver(std::chrono::milliseconds d) {
        const qint64 frames = framesIn(d, m_format.sampleRate);
        std::vector<qint16> pcm;
        pcm.reserve(frames * m_format.channels);
        for (qint64 i = 0; i < frames; ++i, ++m_phase) {
            const double t = double(m_phase) / m_format.sampleRate;
            const auto sample =
                qint16(std::lround(kToneAmplitude * std::sin(2 * std::numbers::pi * kToneHz * t)));
            pcm.insert(pcm.end(), m_format.channels, sample);
        }
        if (m_client)
            m_client->captured(QByteArrayView(reinterpret_cast<const char*>(pcm.data()),
                                              qsizetype(pcm.size() * sizeof(qint16))));
    }

    void die() {
        if (m_client) std::exchange(m_client, nullptr)->inputFailed(QStringLiteral("server gone"));
    }

private:
    std::shared_ptr<Streams> m_streams;
    PcmFormat m_format;
    Client* m_client;
    qint64 m_phase = 0;
};

class FakeOutput final : public AudioOutput {
public:
    FakeOutput(std::shared_ptr<Streams> streams, const PcmFormat& format, Client& client)
        : m_streams(std::move(streams))
        , m_format(format)
        , m_client(&client) {
        m_streams->outputs.insert(this);
    }
    ~FakeOutput() override { m_streams->outputs.erase(this); }

    void stop() override { m_client = nullptr; }
    qint64 playedFrames() const override { return m_played; }

    void consume(std::chrono::milliseconds d) {
        const qint64 wanted = framesIn(d, m_format.sampleRate) * m_format.bytesPerFrame();
        QByteArray buffer(wanted, Qt::Uninitialized);
        qint64 got = 0;
        while (m_client && got < wanted) {
            const qint64 piece = m_client->supply(buffer.data() + got, wanted - got);
            if (piece <= 0) break;
            got += piece;
        }
        m_played += got / m_format.bytesPerFrame();
        if (m_client && m_client->suppliedAll()) std::exchange(m_client, nullptr)->outputFinished();
    }

    void die() {
        if (m_client) std::exchange(m_client, nullptr)->outputFailed(QStringLiteral("server gone"));
    }

private:
    std::shared_ptr<Streams> m_streams;
    PcmFormat m_format;
    Client* m_client;
    qint64 m_played = 0;
};

// Each step works on a copy of the set, since a device may stop a stream while it is told.
template <class Stream, class Step> void forEach(const std::set<Stream*>& live, Step step) {
    const std::set<Stream*> now = live;
    for (Stream* stream : now)
        if (live.contains(stream)) step(*stream);
}

} // namespace

class FakeAudioBackend final : public AudioBackend {
public:
    std::unique_ptr<AudioInput> startInput(const PcmFormat& format, AudioInput::Client& client,
                                           QString& failure) override {
        if (!inputAvailable) {
            failure = QStringLiteral("no input device");
            return nullptr;
        }
        return std::make_unique<FakeInput>(streams, format, client);
    }
    std::unique_ptr<AudioOutput> startOutput(const PcmFormat& format, AudioOutput::Client& client,
                                             QString&) override {
        return std::make_unique<FakeOutput>(streams, format, client);
    }

    std::shared_ptr<Streams> streams = std::make_shared<Streams>();
    bool inputAvailable = true;
};

FakeAudio::FakeAudio() {
    auto backend = std::make_unique<FakeAudioBackend>();
    m_backend = backend.get();
    AudioBackendSeam::install(std::move(backend));
}

FakeAudio::~FakeAudio() {
    AudioBackendSeam::install(nullptr);
}

void FakeAudio::capture(std::chrono::milliseconds d) {
    forEach(m_backend->streams->inputs, [d](FakeInput& input) { input.deliver(d); });
}

void FakeAudio::play(std::chrono::milliseconds d) {
    forEach(m_backend->streams->outputs, [d](FakeOutput& output) { output.consume(d); });
}

void FakeAudio::setInputAvailable(bool available) {
    m_backend->inputAvailable = available;
}

void FakeAudio::serverDies() {
    forEach(m_backend->streams->inputs, [](FakeInput& input) { input.die(); });
    forEach(m_backend->streams->outputs, [](FakeOutput& output) { output.die(); });
}

namespace {

class FullDiskWriter final : public SaveWriter {
public:
    explicit FullDiskWriter(qint64 capacity)
        : m_capacity(capacity) {}
    qint64 write(QIODevice& file, QByteArrayView piece, qint64 offset) override {
        const qint64 room = qBound<qint64>(0, m_capacity - offset, piece.size());
        const qint64 written = room > 0 ? file.write(piece.data(), room) : 0;
        return written == piece.size() ? written : qMin<qint64>(written, piece.size() - 1);
    }

private:
    qint64 m_capacity;
};

} // namespace

FullDisk::FullDisk(qint64 bytesBeforeFailure) {
    SaveWriterSeam::install(std::make_unique<FullDiskWriter>(bytesBeforeFailure));
}

FullDisk::~FullDisk() {
    SaveWriterSeam::install(nullptr);
}

} // namespace tova::test
