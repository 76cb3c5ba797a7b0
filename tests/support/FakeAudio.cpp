#include "FakeAudio.h"

#include "AudioBackend.h"
#include "WavContent.h"

#include <QIODevice>

#include <cmath>
#include <numbers>
#include <set>

namespace tova::test {

namespace {

// Captures a 440 Hz tone for an input client, or plays for an output client.
class FakeStream final : public AudioInput, public AudioOutput {
public:
    // Streams stay registered while they run, even after the fake has gone.
    using Live = std::shared_ptr<std::set<FakeStream*>>;
    FakeStream(Live live, const PcmFormat& format, AudioInput::Client* in, AudioOutput::Client* out)
        : m_live(std::move(live))
        , m_format(format)
        , m_in(in)
        , m_out(out) {
        m_live->insert(this);
    }
    ~FakeStream() override { m_live->erase(this); }

    void stop() override { m_in = nullptr, m_out = nullptr; }
    void drain() override {}
    qint64 playedFrames() const override { return m_played; }

    void capture(std::chrono::milliseconds d) {
        std::vector<qint16> pcm;
        for (qint64 i = frames(d); m_in && i > 0; --i, ++m_phase) {
            const double t = double(m_phase) / m_format.sampleRate;
            pcm.insert(pcm.end(), m_format.channels,
                       qint16(std::lround(0.5 * 32767 * std::sin(2 * std::numbers::pi * 440 * t))));
        }
        if (m_in)
            m_in->captured(QByteArrayView(reinterpret_cast<const char*>(pcm.data()),
                                          qsizetype(pcm.size() * sizeof(qint16))));
    }
    void play(std::chrono::milliseconds d) {
        const qint64 wanted = frames(d) * m_format.bytesPerFrame();
        QByteArray buffer(wanted, Qt::Uninitialized);
        qint64 got = 0;
        for (qint64 piece = 1; m_out && got < wanted && piece > 0; got += piece)
            piece = qMax<qint64>(0, m_out->supply(buffer.data() + got, wanted - got));
        m_played += got / m_format.bytesPerFrame();
        if (m_out && m_out->suppliedAll()) std::exchange(m_out, nullptr)->outputFinished();
    }
    void die() {
        if (m_in) std::exchange(m_in, nullptr)->inputFailed(QStringLiteral("server gone"));
        if (m_out) std::exchange(m_out, nullptr)->outputFailed(QStringLiteral("server gone"));
    }

private:
    qint64 frames(std::chrono::milliseconds d) const {
        return d.count() * m_format.sampleRate / 1000;
    }

    Live m_live;
    PcmFormat m_format;
    AudioInput::Client* m_in;
    AudioOutput::Client* m_out;
    qint64 m_phase = 0;
    qint64 m_played = 0;
};

} // namespace

class FakeAudioBackend final : public AudioBackend {
public:
    std::unique_ptr<AudioInput> startInput(const PcmFormat& format, AudioInput::Client& client,
                                           QString& failure) override {
        if (!inputAvailable) failure = QStringLiteral("no input device");
        return inputAvailable ? std::make_unique<FakeStream>(live, format, &client, nullptr)
                              : nullptr;
    }
    std::unique_ptr<AudioOutput> startOutput(const PcmFormat& format, AudioOutput::Client& client,
                                             QString&) override {
        return std::make_unique<FakeStream>(live, format, nullptr, &client);
    }
    // Each step works on a copy, since a device may stop a stream while it is told.
    template <class Step> void forEach(Step step) {
        for (FakeStream* stream : std::set<FakeStream*>(*live))
            if (live->contains(stream)) step(*stream);
    }

    FakeStream::Live live = std::make_shared<std::set<FakeStream*>>();
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
    m_backend->forEach([d](FakeStream& s) { s.capture(d); });
}
void FakeAudio::play(std::chrono::milliseconds d) {
    m_backend->forEach([d](FakeStream& s) { s.play(d); });
}
void FakeAudio::setInputAvailable(bool available) {
    m_backend->inputAvailable = available;
}
void FakeAudio::serverDies() {
    m_backend->forEach([](FakeStream& s) { s.die(); });
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
