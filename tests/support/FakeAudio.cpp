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
struct FakeStream final : AudioInput, AudioOutput {
    FakeStream(const PcmFormat& format, AudioInput::Client* in, AudioOutput::Client* out)
        : format(format)
        , in(in)
        , out(out) {
        live().insert(this);
    }
    ~FakeStream() override { live().erase(this); }
    // Every stream while it exists, also after the fake that started it has gone.
    static std::set<FakeStream*>& live() {
        static std::set<FakeStream*> streams;
        return streams;
    }
    void stop() override { in = nullptr, out = nullptr; }
    void collect() override {}
    void drain() override {}
    qint64 playedFrames() const override { return played; }

    void move(std::chrono::milliseconds d, bool capture) {
        const qint64 frames = d.count() * format.sampleRate / 1000;
        QByteArray pcm(frames * format.bytesPerFrame(), '\0');
        auto* samples = reinterpret_cast<qint16*>(pcm.data());
        for (qsizetype i = 0; capture && in && i < pcm.size() / 2; ++i)
            samples[i] = qint16(std::lround(16383.5 * std::sin(2 * std::numbers::pi * 440 *
                                                               double(phase + i / format.channels) /
                                                               format.sampleRate)));
        if (capture && in) phase += frames, in->captured(pcm);
        qint64 got = 0;
        for (qint64 piece = 1; !capture && out && piece > 0 && got < pcm.size(); got += piece)
            piece = qMax<qint64>(0, out->supply(pcm.data() + got, pcm.size() - got));
        played += got / format.bytesPerFrame();
        if (!capture && out && out->suppliedAll()) std::exchange(out, nullptr)->outputFinished();
    }

    PcmFormat format;
    AudioInput::Client* in;
    AudioOutput::Client* out;
    qint64 phase = 0;
    qint64 played = 0;
};

struct FakeAudioBackend final : AudioBackend {
    std::unique_ptr<AudioInput> startInput(const PcmFormat& format, AudioInput::Client& client,
                                           QString&) override {
        return std::make_unique<FakeStream>(format, &client, nullptr);
    }
    std::unique_ptr<AudioOutput> startOutput(const PcmFormat& format, AudioOutput::Client& client,
                                             QString&) override {
        return std::make_unique<FakeStream>(format, nullptr, &client);
    }
};

// Writes until the disk holds capacity bytes of the file.
struct FullDiskWriter final : SaveWriter {
    explicit FullDiskWriter(qint64 capacity)
        : capacity(capacity) {}
    qint64 write(QIODevice& file, QByteArrayView piece, qint64 offset) override {
        const qint64 room = qBound<qint64>(0, capacity - offset, piece.size());
        return room > 0 ? file.write(piece.data(), room) : 0;
    }
    qint64 capacity;
};

} // namespace

FakeAudio::FakeAudio() {
    AudioBackendSeam::install(std::make_unique<FakeAudioBackend>());
}
FakeAudio::~FakeAudio() {
    AudioBackendSeam::install(nullptr);
}
void FakeAudio::move(std::chrono::milliseconds d, bool capture) {
    // A copy: a device may stop a stream while it is told.
    for (FakeStream* stream : std::set<FakeStream*>(FakeStream::live()))
        if (FakeStream::live().contains(stream)) stream->move(d, capture);
}

FullDisk::FullDisk(qint64 bytesBeforeFailure) {
    SaveWriterSeam::install(std::make_unique<FullDiskWriter>(bytesBeforeFailure));
}
FullDisk::~FullDisk() {
    SaveWriterSeam::install(nullptr);
}

} // namespace tova::test
