#include "AudioBackend.h"

#include "Settings.h"

#include <QObject>
#include <QTimer>

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>

namespace tova {

namespace {

using Clock = std::chrono::steady_clock;

// How long connecting to the server, or starting a stream on it, may take.
constexpr std::chrono::milliseconds kStartLimit{3000};
// A capture that hands over nothing for this long has lost its source: a server that hangs
// drops no connection.
constexpr std::chrono::milliseconds kStallLimit{5000};
constexpr std::chrono::milliseconds kStallCheck{1000};
// The server sends captured audio in pieces this long.
constexpr std::chrono::milliseconds kCapturePiece{250};
constexpr std::chrono::milliseconds kDrainPiece{10};
constexpr std::chrono::milliseconds kPlayBuffer{250};
constexpr uint32_t kServerChooses = uint32_t(-1);

uint32_t bytesFor(const PcmFormat& format, std::chrono::milliseconds d) {
    return uint32_t(qint64(format.sampleRate) * d.count() / 1000 * format.bytesPerFrame());
}

QString failureText(int error) {
    return QString::fromUtf8(pa_strerror(error));
}

class Locked {
public:
    explicit Locked(pa_threaded_mainloop* loop)
        : m_loop(loop) {
        pa_threaded_mainloop_lock(loop);
    }
    ~Locked() { pa_threaded_mainloop_unlock(m_loop); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    pa_threaded_mainloop* m_loop;
};

} // namespace

// libpulse's loop thread and the one connection to the server. Members other than loop() are
// used with the loop locked.
class PulseConnection {
public:
    PulseConnection()
        : m_loop(pa_threaded_mainloop_new())
        , m_running(pa_threaded_mainloop_start(m_loop) >= 0) {}
    ~PulseConnection() {
        pa_threaded_mainloop_stop(m_loop);
        drop();
        pa_threaded_mainloop_free(m_loop);
    }
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* loop() const { return m_loop; }
    void wake() { pa_threaded_mainloop_signal(m_loop, 0); }

    // The connection, made anew when the last one has failed; nullptr and the reason while the
    // server cannot be reached.
    pa_context* context(QString& failure) {
        if (!m_running) {
            failure = failureText(PA_ERR_INTERNAL);
            return nullptr;
        }
        if (m_context && !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context))) drop();
        if (!m_context) {
            m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "TOVA电话录音系统");
            pa_context_set_state_callback(
                m_context,
                [](pa_context*, void* self) { static_cast<PulseConnection*>(self)->wake(); }, this);
            // The desktop session runs the server; one spawned here would hear no telephone line.
            pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
        }
        waitFor([this] {
            const pa_context_state_t state = pa_context_get_state(m_context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        const pa_context_state_t state = pa_context_get_state(m_context);
        if (state == PA_CONTEXT_READY) return m_context;
        failure =
            failureText(PA_CONTEXT_IS_GOOD(state) ? PA_ERR_TIMEOUT : pa_context_errno(m_context));
        drop();
        return nullptr;
    }

    // Waits until done() holds or limit has passed. The loop thread wakes this at every change
    // of state.
    void waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = kStartLimit) {
        struct Alarm {
            pa_threaded_mainloop* loop;
            bool rang = false;
        } alarm{m_loop};
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
        timeval at;
        pa_timeval_add(pa_gettimeofday(&at), pa_usec_t(limit.count()) * PA_USEC_PER_MSEC);
        pa_time_event* timer = api->time_new(
            api, &at,
            [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
                auto* alarm = static_cast<Alarm*>(data);
                alarm->rang = true;
                pa_threaded_mainloop_signal(alarm->loop, 0);
            },
            &alarm);
        while (!done() && !alarm.rang)
            pa_threaded_mainloop_wait(m_loop);
        api->time_free(timer);
    }

private:
    void drop() {
        if (!m_context) return;
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }

    pa_threaded_mainloop* m_loop;
    bool m_running;
    pa_context* m_context = nullptr;
};

namespace {

// One stream on the connection. What the loop thread learns reaches the owner on the thread
// that opened the stream, through posted calls that die with the stream.
class PulseStream {
public:
    explicit PulseStream(std::shared_ptr<PulseConnection> connection)
        : m_connection(std::move(connection)) {}
    ~PulseStream() { close(); }

    pa_threaded_mainloop* loop() const { return m_connection->loop(); }
    pa_stream* get() const { return m_stream; }
    void wake() { m_connection->wake(); }
    void waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        m_connection->waitFor(done, limit);
    }
    template <class Call> void post(Call call) {
        QMetaObject::invokeMethod(&m_receiver, std::move(call), Qt::QueuedConnection);
    }

    // connect sets the callbacks of the stream's direction and connects it. lost is posted once
    // when the running stream fails: its server or its device gone.
    bool open(const PcmFormat& format, const char* name,
              const std::function<int(pa_stream*)>& connect, std::function<void()> lost,
              QString& failure) {
        Locked lock(loop());
        pa_context* context = m_connection->context(failure);
        if (!context) return false;
        const pa_sample_spec sampleSpec{PA_SAMPLE_S16NE, uint32_t(format.sampleRate),
                                        uint8_t(format.channels)};
        m_stream = pa_stream_new(context, name, &sampleSpec, nullptr);
        if (!m_stream) {
            failure = failureText(pa_context_errno(context));
            return false;
        }
        m_lost = std::move(lost);
        pa_stream_set_state_callback(m_stream, stateChanged, this);
        if (connect(m_stream) == 0)
            m_connection->waitFor(
                [this] { return pa_stream_get_state(m_stream) != PA_STREAM_CREATING; });
        m_running = pa_stream_get_state(m_stream) == PA_STREAM_READY;
        if (!m_running) {
            failure = failureText(pa_context_errno(context));
            close();
        }
        return m_running;
    }

    void close() {
        if (!m_stream) return;
        Locked lock(loop());
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
        m_running = false;
    }

private:
    static void stateChanged(pa_stream* stream, void* data) {
        auto* self = static_cast<PulseStream*>(data);
        self->m_connection->wake();
        if (self->m_running && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
            self->m_running = false;
            self->post(self->m_lost);
        }
    }

    std::shared_ptr<PulseConnection> m_connection;
    QObject m_receiver;
    pa_stream* m_stream = nullptr;
    bool m_running = false;
    std::function<void()> m_lost;
};

class PulseInput final : public AudioInput {
public:
    PulseInput(std::shared_ptr<PulseConnection> connection, Client& client)
        : m_stream(std::move(connection))
        , m_client(&client) {
        QObject::connect(&m_stallCheck, &QTimer::timeout, &m_stallCheck, [this] { checkStall(); });
    }
    ~PulseInput() override { stop(); }

    bool start(const PcmFormat& format, QString& failure) {
        const pa_buffer_attr attr{kServerChooses, kServerChooses, kServerChooses, kServerChooses,
                                  bytesFor(format, kCapturePiece)};
        m_format = format;
        m_lastData = Clock::now();
        // The user's choice, or the server's default input; one that does not exist fails
        // the start as a missing input does.
        const QByteArray source = Settings::current().audioSource.toUtf8();
        const auto connect = [&](pa_stream* stream) {
            pa_stream_set_read_callback(stream, readable, this);
            // Kept on its device: when that goes, the capture ends rather than going on from
            // whatever microphone the server would move it to.
            return pa_stream_connect_record(
                stream, source.isEmpty() ? nullptr : source.constData(), &attr,
                pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE));
        };
        if (!m_stream.open(
                format, "录音", connect, [this] { lost(); }, failure))
            return false;
        m_stallCheck.start(kStallCheck);
        return true;
    }

    // What the loop thread has taken in while this thread was busy is handed over here, with
    // what the server's source holds of its next piece: asked for small pieces, a device
    // source sends that at once; a source that keeps its pace makes this wait one piece at most.
    // Then the pieces are as large as before.
    void drain() override {
        {
            Locked lock(m_stream.loop());
            pa_stream* stream = m_stream.get();
            if (stream && pa_stream_get_state(stream) == PA_STREAM_READY) {
                m_drainAsked = false;
                const bool asked = setPiece(stream, kDrainPiece, [](pa_stream*, int, void* data) {
                    auto* self = static_cast<PulseInput*>(data);
                    self->m_drainAsked = true;
                    self->m_stream.wake();
                });
                m_stream.waitFor([this, asked] { return !asked || m_drainAsked; }, kCapturePiece);
                const qsizetype before = m_pending.size();
                if (m_drainAsked)
                    m_stream.waitFor([&] { return m_pending.size() != before; }, kCapturePiece);
                setPiece(stream, kCapturePiece, nullptr);
            }
        }
        collect();
    }

    void collect() override {
        QByteArray pcm;
        {
            Locked lock(m_stream.loop());
            if (m_stream.get()) take(m_stream.get());
            pcm.swap(m_pending);
        }
        if (m_client && !pcm.isEmpty()) m_client->captured(pcm);
    }

    void stop() override {
        m_client = nullptr;
        m_stallCheck.stop();
        m_stream.close();
    }

private:
    // With the loop locked, on a ready stream: asks the server for pieces this long; false when
    // the request could not be sent.
    bool setPiece(pa_stream* stream, std::chrono::milliseconds piece, pa_stream_success_cb_t done) {
        pa_buffer_attr attr = *pa_stream_get_buffer_attr(stream);
        attr.fragsize = bytesFor(m_format, piece);
        pa_operation* operation = pa_stream_set_buffer_attr(stream, &attr, done, this);
        if (operation) pa_operation_unref(operation);
        return operation != nullptr;
    }

    // With the loop locked: moves what the server has sent into m_pending.
    void take(pa_stream* stream) {
        const void* data = nullptr;
        size_t size = 0;
        while (pa_stream_peek(stream, &data, &size) == 0 && size > 0) {
            // A hole in the capture stays as silence, so that the timing holds.
            if (data)
                m_pending.append(static_cast<const char*>(data), qsizetype(size));
            else
                m_pending.append(qsizetype(size), '\0');
            pa_stream_drop(stream);
            m_lastData = Clock::now();
        }
    }

    static void readable(pa_stream* stream, size_t, void* data) {
        auto* self = static_cast<PulseInput*>(data);
        self->take(stream);
        self->m_stream.wake();
    }

    void lost() {
        collect();
        if (m_client)
            std::exchange(m_client, nullptr)->inputFailed(QStringLiteral("the capture was lost"));
    }

    void checkStall() {
        bool stalled;
        {
            Locked lock(m_stream.loop());
            stalled = Clock::now() - m_lastData > kStallLimit;
        }
        if (stalled) lost();
    }

    PulseStream m_stream;
    Client* m_client;
    QTimer m_stallCheck;
    PcmFormat m_format;
    // Shared with the loop thread, under its lock.
    bool m_drainAsked = false;
    QByteArray m_pending;
    Clock::time_point m_lastData;
};

// Fills the server's buffer whenever it asks, then drains it; the position is what the server
// reports as heard.
class PulseOutput final : public AudioOutput {
public:
    PulseOutput(std::shared_ptr<PulseConnection> connection, Client& client)
        : m_stream(std::move(connection))
        , m_client(&client) {}
    ~PulseOutput() override { stop(); }

    bool start(const PcmFormat& format, QString& failure) {
        m_format = format;
        const pa_buffer_attr attr{kServerChooses, bytesFor(format, kPlayBuffer), kServerChooses,
                                  kServerChooses, kServerChooses};
        const auto flags = pa_stream_flags_t(
            PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
        const auto connect = [&](pa_stream* stream) {
            pa_stream_set_write_callback(stream, writable, this);
            return pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr);
        };
        if (!m_stream.open(
                format, "放音", connect, [this] { failed(); }, failure))
            return false;
        m_stream.post([this] { feed(); });
        return true;
    }

    qint64 playedFrames() const override {
        Locked lock(m_stream.loop());
        pa_usec_t heard = 0;
        if (m_stream.get() && pa_stream_get_time(m_stream.get(), &heard) == 0)
            m_played = qint64(heard) * m_format.sampleRate / 1'000'000;
        return m_played;
    }

    void stop() override {
        m_client = nullptr;
        Locked lock(m_stream.loop());
        if (m_drain) {
            pa_operation_cancel(m_drain);
            pa_operation_unref(std::exchange(m_drain, nullptr));
        }
        m_stream.close();
    }

private:
    static void writable(pa_stream*, size_t, void* data) {
        auto* self = static_cast<PulseOutput*>(data);
        if (!std::exchange(self->m_feedPosted, true)) self->m_stream.post([self] { self->feed(); });
    }

    void feed() {
        Locked lock(m_stream.loop());
        m_feedPosted = false;
        pa_stream* stream = m_stream.get();
        if (!stream || !m_client || m_drain) return;
        const size_t room = pa_stream_writable_size(stream);
        const size_t frameBytes = size_t(m_format.bytesPerFrame());
        if (room != size_t(-1) && room >= frameBytes && !m_client->suppliedAll()) {
            QByteArray piece(qsizetype(room - room % frameBytes), Qt::Uninitialized);
            const qint64 got = m_client->supply(piece.data(), piece.size());
            if (got > 0)
                pa_stream_write(stream, piece.constData(), size_t(got), nullptr, 0,
                                PA_SEEK_RELATIVE);
        }
        if (m_client->suppliedAll()) m_drain = pa_stream_drain(stream, drained, this);
    }

    static void drained(pa_stream*, int success, void* data) {
        auto* self = static_cast<PulseOutput*>(data);
        if (success) self->m_stream.post([self] { self->finished(); });
    }

    void finished() {
        if (m_client) std::exchange(m_client, nullptr)->outputFinished();
    }

    void failed() {
        if (m_client)
            std::exchange(m_client, nullptr)->outputFailed(QStringLiteral("the playback was lost"));
    }

    PulseStream m_stream;
    Client* m_client;
    PcmFormat m_format;
    mutable qint64 m_played = 0;
    // Shared with the loop thread, under its lock.
    bool m_feedPosted = false;
    pa_operation* m_drain = nullptr;
};

template <class Stream, class Client>
std::unique_ptr<Stream> started(const std::shared_ptr<PulseConnection>& connection,
                                const PcmFormat& format, Client& client, QString& failure) {
    auto stream = std::make_unique<Stream>(connection, client);
    if (!stream->start(format, failure)) return nullptr;
    return stream;
}

} // namespace

PulseAudioBackend::PulseAudioBackend()
    : m_connection(std::make_shared<PulseConnection>()) {}

PulseAudioBackend::~PulseAudioBackend() = default;

std::unique_ptr<AudioInput> PulseAudioBackend::startInput(const PcmFormat& format,
                                                          AudioInput::Client& client,
                                                          QString& failure) {
    return started<PulseInput>(m_connection, format, client, failure);
}

std::unique_ptr<AudioOutput> PulseAudioBackend::startOutput(const PcmFormat& format,
                                                            AudioOutput::Client& client,
                                                            QString& failure) {
    return started<PulseOutput>(m_connection, format, client, failure);
}

} // namespace tova
