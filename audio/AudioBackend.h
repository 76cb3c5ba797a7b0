#pragma once

#include "Seam.h"

#include <QByteArrayView>
#include <QString>

#include <memory>

namespace tova {

// What the sound system carries for a device: interleaved signed 16-bit samples.
struct PcmFormat {
    int sampleRate = 8000;
    int channels = 1;
    int bytesPerFrame() const { return 2 * channels; }
};

// A running capture or playback. After stop() it calls its client no more.
class AudioStream {
public:
    virtual ~AudioStream() = default;
    virtual void stop() = 0;
};

class AudioInput : public AudioStream {
public:
    class Client {
    public:
        virtual void captured(QByteArrayView pcm) = 0;
        virtual void inputFailed(const QString& reason) = 0;
        // The input that startInput() gave could not start after all.
        virtual void inputNotStarted(const QString& reason) { inputFailed(reason); }

    protected:
        ~Client() = default;
    };
    // The client's thread is never woken for captured audio: it collects it when it suits it.
    // Hands the client what the input has taken in.
    virtual void collect() = 0;
    // Hands the client at once everything captured up to now, with what the sound system itself
    // still holds.
    virtual void drain() = 0;
};

class AudioOutput : public AudioStream {
public:
    class Client {
    public:
        // The next piece to play, at most maxBytes; 0 once everything has gone out.
        virtual qint64 supply(char* data, qint64 maxBytes) = 0;
        virtual bool suppliedAll() const = 0;
        // Everything supplied has been heard.
        virtual void outputFinished() = 0;
        virtual void outputFailed(const QString& reason) = 0;
        // The output that startOutput() gave could not start after all.
        virtual void outputNotStarted(const QString& reason) { outputFailed(reason); }

    protected:
        ~Client() = default;
    };
    // Frames actually played, not merely queued.
    virtual qint64 playedFrames() const = 0;
};

// Starts streams on the sound input the settings name (the system's default otherwise) and on
// the default output. A stream may come up a while after it is given, without its caller
// waiting for it; one that cannot even be tried gives nullptr and the reason, one that cannot
// start after all tells its client.
class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    virtual std::unique_ptr<AudioInput>
    startInput(const PcmFormat& format, AudioInput::Client& client, QString& failure) = 0;
    virtual std::unique_ptr<AudioOutput>
    startOutput(const PcmFormat& format, AudioOutput::Client& client, QString& failure) = 0;
};

class PulseConnection;

// PulseAudio, or PipeWire's pulse server, through libpulse, whose own thread connects and starts
// the streams. A connection that the server has dropped, or that let a start time out, is
// replaced at the next start, so streams work again once the server is back.
class PulseAudioBackend : public AudioBackend {
public:
    PulseAudioBackend();
    ~PulseAudioBackend() override;
    std::unique_ptr<AudioInput> startInput(const PcmFormat& format, AudioInput::Client& client,
                                           QString& failure) override;
    std::unique_ptr<AudioOutput> startOutput(const PcmFormat& format, AudioOutput::Client& client,
                                             QString& failure) override;

private:
    std::shared_ptr<PulseConnection> m_connection;
};

using AudioBackendSeam = Seam<AudioBackend, PulseAudioBackend>;

} // namespace tova
