#include "AudioBackend.h"

#include "Settings.h"

#include <QObject>
#include <QTimer>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

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
    // Hears every change of the connection's state, on the loop thread; nullptr once the
    // connection has been given up.
    class Watcher {
    public:
        virtual void connectionChanged(pa_context* context) = 0;

    protected:
        ~Watcher() = default;
    };

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
    pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(m_loop); }
    void wake() { pa_threaded_mainloop_signal(m_loop, 0); }

    // The connection, ready or still on its way, made anew when the last one has failed;
    // nullptr when none can be tried.
    pa_context* context() {
        if (!m_running) return nullptr;
        if (m_context && !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context))) drop();
        if (!m_context) {
            m_context = pa_context_new(api(), "TOVA电话录音系统");
            if (!m_context) return nullptr;
            pa_context_set_state_callback(m_context, changed, this);
            // The desktop session runs the server; one spawned here would hear no telephone line.
            pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
        }
        return m_context;
    }

    void watch(Watcher* watcher) { m_watchers.push_back(watcher); }
    void unwatch(Watcher* watcher) { std::erase(m_watchers, watcher); }

    // Gives the connection up: its streams end, and the next start connects again.
    void drop() {
        if (!m_context) return;
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(std::exchange(m_context, nullptr));
        tell(nullptr);
    }

    // Waits until done() holds or limit has passed. The loop thread wakes this at every change
    // of state.
    void waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        bool rang = false;
        pa_time_event* timer = after(limit, [this, &rang] {
            rang = true;
            wake();
        });
        while (!done() && !rang)
            pa_threaded_mainloop_wait(m_loop);
        api()->time_free(timer);
    }

    // Calls rang on the loop thread once limit has passed, unless the timer is freed first.
    pa_time_event* after(std::chrono::milliseconds limit, std::function<void()> rang) {
        timeval at;
        pa_timeval_add(pa_gettimeofday(&at), pa_usec_t(limit.count()) * PA_USEC_PER_MSEC);
        auto* call = new std::function<void()>(std::move(rang));
        pa_time_event* timer = api()->time_new(
            api(), &at,
            [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
                // A copy: the call may free its own timer, and with it what data points to.
                const auto call = *static_cast<std::function<void()>*>(data);
                call();
            },
            call);
        api()->time_set_destroy(timer, [](pa_mainloop_api*, pa_time_event*, void* data) {
            delete static_cast<std::function<void()>*>(data);
        });
        return timer;
    }

private:
    static void changed(pa_context* context, void* data) {
        auto* self = static_cast<PulseConnection*>(data);
        self->wake();
        self->tell(context);
    }

    void tell(pa_context* context) {
        // A watcher may stop watching when it hears.
        for (Watcher* watcher : std::vector(m_watchers))
            if (std::ranges::find(m_watchers, watcher) != m_watchers.end())
                watcher->connectionChanged(context);
    }

    pa_threaded_mainloop* m_loop;
    bool m_running;
    pa_context* m_context = nullptr;
    std::vector<Watcher*> m_watchers;
};

namespace {

// One stream on the connection, which the loop thread connects and starts, so that a server
// that does not answer holds up no caller. What the loop thread learns reaches the owner on the
// thread that opened the stream, through posted calls that die with the stream.
class PulseStream : private PulseConnection::Watcher {
public:
    struct Reports {
        std::function<void()> started;
        std::function<void(const QString&)> notStarted; // nothing ran within kStartLimit
        std::function<void()> lost;                     // the running stream failed
    };

    explicit PulseStream(std::shared_ptr<PulseConnection> connection)
        : m_connection(std::move(connection)) {}
    ~PulseStream() { close(); }

    pa_threaded_mainloop* loop() const { return m_connection->loop(); }
    // nullptr until the stream has been made.
    pa_stream* get() const { return m_stream; }
    void wake() { m_connection->wake(); }
    void waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        m_connection->waitFor(done, limit);
    }
    template <class Call> void post(Call call) {
        QMetaObject::invokeMethod(&m_receiver, std::move(call), Qt::QueuedConnection);
    }

    // Begins the start; connect sets the callbacks of the stream's direction and connects it.
    // False when not even that can be tried.
    bool open(const PcmFormat& format, const char* name, std::function<int(pa_stream*)> connect,
              Reports reports, QString& failure) {
        Locked lock(loop());
        pa_context* context = m_connection->context();
        if (!context) {
            failure = failureText(PA_ERR_INTERNAL);
            return false;
        }
        m_sampleSpec = {PA_SAMPLE_S16NE, uint32_t(format.sampleRate), uint8_t(format.channels)};
        m_name = name;
        m_connect = std::move(connect);
        m_reports = std::move(reports);
        m_starting = true;
        // A server that lets a start time out is not waited for again: the next start
        // connects anew.
        m_startLimit = m_connection->after(kStartLimit, [this] {
            startFailed(PA_ERR_TIMEOUT);
            m_connection->drop();
        });
        m_connection->watch(this);
        connectionChanged(context);
        return true;
    }

    void close() {
        Locked lock(loop());
        endStart();
        if (!m_stream) return;
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(std::exchange(m_stream, nullptr));
        m_running = false;
    }

private:
    void connectionChanged(pa_context* context) override {
        const pa_context_state_t state =
            context ? pa_context_get_state(context) : PA_CONTEXT_FAILED;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            startFailed(context ? pa_context_errno(context) : PA_ERR_CONNECTIONTERMINATED);
        } else if (state == PA_CONTEXT_READY && !m_stream) {
            m_stream = pa_stream_new(context, m_name, &m_sampleSpec, nullptr);
            if (!m_stream) return startFailed(pa_context_errno(context));
            pa_stream_set_state_callback(m_stream, stateChanged, this);
            if (m_connect(m_stream) < 0) startFailed(pa_context_errno(context));
        }
    }

    static void stateChanged(pa_stream* stream, void* data) {
        auto* self = static_cast<PulseStream*>(data);
        self->wake();
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (self->m_starting && state == PA_STREAM_READY) {
            self->endStart();
            self->m_running = true;
            self->post(self->m_reports.started);
        } else if (!PA_STREAM_IS_GOOD(state)) {
            self->startFailed(pa_context_errno(pa_stream_get_context(stream)));
            if (std::exchange(self->m_running, false)) self->post(self->m_reports.lost);
        }
    }

    void startFailed(int error) {
        if (!m_starting) return;
        endStart();
        post([this, reason = failureText(error)] { m_reports.notStarted(reason); });
    }

    void endStart() {
        m_starting = false;
        m_connection->unwatch(this);
        if (m_startLimit) m_connection->api()->time_free(std::exchange(m_startLimit, nullptr));
    }

    std::shared_ptr<PulseConnection> m_connection;
    QObject m_receiver;
    pa_sample_spec m_sampleSpec{};
    const char* m_name = "";
    std::function<int(pa_stream*)> m_connect;
    Reports m_reports;
    // Shared with the loop thread, under its lock.
    pa_stream* m_stream = nullptr;
    pa_time_event* m_startLimit = nullptr;
    bool m_starting = false;
    bool m_running = false;
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
        // The user's choice, or the server's default input; one that does not exist fails
        // the start as a missing input does.
        const QByteArray source = Settings::current().audioSource.toUtf8();
        // Called later, on the loop thread, once the connection is ready.
        const auto connect = [this, attr, source](pa_stream* stream) {
            pa_stream_set_read_callback(stream, readable, this);
            // Kept on its device: when that goes, the capture ends rather than going on from
            // whatever microphone the server would move it to.
            return pa_stream_connect_record(
                stream, source.isEmpty() ? nullptr : source.constData(), &attr,
                pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE));
        };
        return m_stream.open(format, "录音", connect,
                             {[this] { started(); },
                              [this](const QString& reason) { notStarted(reason); },
                              [this] { lost(); }},
                             failure);
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

    void started() {
        {
            Locked lock(m_stream.loop());
            m_lastData = Clock::now();
        }
        m_stallCheck.start(kStallCheck);
    }

    void notStarted(const QString& reason) {
        if (m_client) std::exchange(m_client, nullptr)->inputNotStarted(reason);
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
        const auto connect = [this, attr, flags](pa_stream* stream) {
            pa_stream_set_write_callback(stream, writable, this);
            return pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr);
        };
        return m_stream.open(format, "放音", connect,
                             {[this] { feed(); },
                              [this](const QString& reason) { notStarted(reason); },
                              [this] { failed(); }},
                             failure);
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

    void notStarted(const QString& reason) {
        if (m_client) std::exchange(m_client, nullptr)->outputNotStarted(reason);
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
