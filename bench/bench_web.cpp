// The web server under load, through its own HTTP(S), in this process:
//   (a) the bytes per second of a recording streamed whole (an hour of telephone audio,
//       57.6 MB) over TLS at 127.0.0.2 and over plain HTTP at 127.0.0.1, the median of 3, and
//       how much the process's peak memory grew meanwhile;
//   (b) filters of the call log over HTTPS, over 100,000 calls (tagged recordings the journal
//       has learned): the first page, a search by number, a direction with a shortest length,
//       a date range and a search that finds nothing, each the median of 3 answers, against
//       the 0.5 s limit.
//   cmake --build build --target bench_web && build/bench/bench_web
// The recordings folder beside this program must not exist: it is made and removed; the
// password and the certificate go into temporary XDG folders.
#include "AppInfo.h"
#include "CallTags.h"
#include "Certificate.h"
#include "Journal.h"
#include "ListenAddress.h"
#include "Password.h"
#include "WebApp.h"
#include "WebCalls.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace tova;

constexpr int kRuns = 3;
constexpr qint64 kHourOfAudio = 8000LL * 2 * 3600;
constexpr int kCalls = 100000;
constexpr double kFilterLimitMs = 500;
const QByteArray kTemplateNumber = "13800000000";
const QDateTime kTemplateStart(QDate(2000, 1, 1), QTime(0, 0));
const QByteArray kTemplateStamp = "2000-01-01T00:00:00";
const QByteArray kPassword = "bench-password";

// One HTTP/1.1 connection of a browser's kind, over TLS or not; the certificate is not checked.
class Client {
public:
    Client(const ListenAddress& address, quint16 port) {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to = *reinterpret_cast<const sockaddr_in*>(&address.socket);
        to.sin_port = htons(port);
        if (::connect(m_socket, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
            qFatal("cannot connect to %s", qPrintable(address.url()));
        if (!address.tls) return;
        gnutls_certificate_allocate_credentials(&m_credentials);
        gnutls_init(&m_session, GNUTLS_CLIENT);
        gnutls_set_default_priority(m_session);
        gnutls_credentials_set(m_session, GNUTLS_CRD_CERTIFICATE, m_credentials);
        gnutls_transport_set_int(m_session, m_socket);
        if (gnutls_handshake(m_session) != GNUTLS_E_SUCCESS) qFatal("no TLS handshake");
    }
    ~Client() {
        if (m_session) gnutls_deinit(m_session);
        if (m_credentials) gnutls_certificate_free_credentials(m_credentials);
        ::close(m_socket);
    }

    // The answer's head; its body is counted (and kept when keep is set).
    QByteArray get(const QByteArray& request, qint64& bodyBytes, QByteArray* keep = nullptr) {
        send(request);
        QByteArray head;
        while (!head.contains("\r\n\r\n"))
            head += receive();
        const qsizetype end = head.indexOf("\r\n\r\n") + 4;
        const qsizetype at = head.toLower().indexOf("content-length:");
        const qint64 length =
            head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
        QByteArray body = head.mid(end);
        bodyBytes = body.size();
        if (keep) *keep = body;
        while (bodyBytes < length) {
            const QByteArray more = receive();
            bodyBytes += more.size();
            if (keep) *keep += more;
        }
        return head.left(end);
    }

private:
    void send(const QByteArray& bytes) {
        const ssize_t sent = m_session
                                 ? gnutls_record_send(m_session, bytes.data(), size_t(bytes.size()))
                                 : ::send(m_socket, bytes.data(), size_t(bytes.size()), 0);
        if (sent != bytes.size()) qFatal("request not sent");
    }
    QByteArray receive() {
        char buffer[1 << 16];
        const ssize_t got = m_session ? gnutls_record_recv(m_session, buffer, sizeof buffer)
                                      : ::recv(m_socket, buffer, sizeof buffer, 0);
        if (got <= 0) qFatal("connection closed");
        return QByteArray(buffer, got);
    }

    int m_socket = -1;
    gnutls_session_t m_session = nullptr;
    gnutls_certificate_credentials_t m_credentials = nullptr;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A server at the address with a session of its own: the session's cookie header.
QByteArray logIn(const ListenAddress& address, quint16 port) {
    const QByteArray host = address.host.toLatin1() + ':' + QByteArray::number(port);
    const QByteArray body = "password=" + kPassword;
    qint64 bytes = 0;
    const QByteArray head =
        Client(address, port)
            .get("POST /login HTTP/1.1\r\nHost: " + host +
                     "\r\nOrigin: " + (address.tls ? "https://" : "http://") + host +
                     "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\n\r\n" + body,
                 bytes);
    const qsizetype at = head.indexOf("tova_session=");
    if (at < 0) qFatal("no session: %s", head.constData());
    return "Cookie: " + head.mid(at, head.indexOf(';', at) - at) + "\r\n";
}

// The web server at an address, logged in.
struct Served {
    explicit Served(const QString& listen)
        : address(*ListenAddress::parse(listen)) {
        QString error;
        identity = address.tls ? tlsIdentity({}, {}, address, error) : std::nullopt;
        if (!server.start(address, identity ? &*identity : nullptr, error))
            qFatal("%s", qPrintable(error));
        cookie = logIn(address, server.port());
    }
    ~Served() { app.stop(); }
    // The answer's body, and how long it took in ms.
    QByteArray get(const QByteArray& target, double& ms) {
        Client client(address, server.port());
        QElapsedTimer timer;
        timer.start();
        qint64 bytes = 0;
        QByteArray body;
        const QByteArray head = client.get(
            "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + cookie + "\r\n", bytes, &body);
        ms = double(timer.nsecsElapsed()) / 1e6;
        if (!head.startsWith("HTTP/1.1 200"))
            qFatal("%s: %s", target.constData(), head.constData());
        return body;
    }

    ListenAddress address;
    std::optional<TlsIdentity> identity;
    WebApp app{recordingsFolder()};
    HttpServer server{[this](const HttpRequest& request) { return app.handle(request); }};
    QByteArray cookie;
};

// A line of /proc/self/status in kB: VmRSS now, VmHWM the peak since the last reset.
long statusKb(const QByteArray& field) {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ')[0].toLong();
    return -1;
}

// Sets the peak to what the process holds now (Linux 4.0 and later).
void resetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1) qFatal("cannot reset VmHWM");
}

void streamed(const QString& listen, const QString& name, qint64 size) {
    Served served(listen);
    resetPeak();
    const long before = statusKb("VmRSS");
    std::vector<double> rates;
    for (int run = 0; run < kRuns; ++run) {
        Client client(served.address, served.server.port());
        QElapsedTimer timer;
        timer.start();
        qint64 bytes = 0;
        client.get("GET /files/" + name.toUtf8() + " HTTP/1.1\r\nHost: x\r\n" + served.cookie +
                       "\r\n",
                   bytes);
        if (bytes != size) qFatal("%lld of %lld bytes", bytes, size);
        rates.push_back(double(bytes) / (double(timer.nsecsElapsed()) / 1e6));
    }
    std::printf("streamed over %-10s %7.1f MB/s (%s, median of %d); its peak memory grew %ld kB\n",
                served.address.tls ? "TLS" : "plain HTTP", median(rates) / 1e3,
                qPrintable(served.address.host), kRuns, statusKb("VmHWM") - before);
    std::fflush(stdout);
}

// 100,000 tagged calls, a minute apart from 2024-01-01 08:00, one number each; every tenth an
// outgoing call of a minute, the others incoming of a second.
void fillFolder(const QString& folder, const QString& scratch) {
    const auto call = [&](const QString& direction, int seconds) {
        const QString path = scratch + u'/' + direction + QStringLiteral(".wav");
        SF_INFO info{0, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
        SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
        writeCallTags(file, {QString::fromLatin1(kTemplateNumber), QStringLiteral("王小明"),
                             direction, kTemplateStart});
        const std::vector<short> silence(size_t(8000 * seconds));
        sf_write_short(file, silence.data(), sf_count_t(silence.size()));
        sf_close(file);
        QFile written(path);
        written.open(QIODevice::ReadOnly);
        return written.readAll();
    };
    const QByteArray incoming = call(kIncoming, 1), outgoing = call(kOutgoing, 60);
    const QDateTime first(QDate(2024, 1, 1), QTime(8, 0));
    for (int i = 0; i < kCalls; ++i) {
        QByteArray bytes = i % 10 ? incoming : outgoing;
        const QByteArray number = QByteArray::number(13800000000LL + i);
        bytes.replace(bytes.indexOf(kTemplateNumber), number.size(), number);
        const QByteArray start = first.addSecs(qint64(i) * 60).toString(Qt::ISODate).toLatin1();
        bytes.replace(bytes.indexOf(kTemplateStamp), start.size(), start);
        QFile file(folder + u'/' + first.addSecs(qint64(i) * 60).toString("yyyy-M-dHHmmss") +
                   QStringLiteral(".wav"));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
    }
    Journal journal(folder);
    while (!journal.learn(5000).finished()) {
    }
}

bool filters() {
    Served served(QStringLiteral("127.0.0.2:0"));
    const std::pair<const char*, QByteArray> asked[] = {
        {"first page, newest first", "/api/calls?period=all&page=0"},
        {"a number", "/api/calls?q=1380001234"},
        {"outgoing, at least 30 s", "/api/calls?direction=%E5%91%BC%E5%87%BA&shortest=30"},
        {"a date range, page 3", "/api/calls?period=range&from=2024-02-01&to=2024-02-10&page=2"},
        {"a text nobody has", "/api/calls?q=nobody"},
    };
    bool within = true;
    for (const auto& [what, target] : asked) {
        std::vector<double> times;
        QByteArray body;
        for (int run = 0; run < kRuns; ++run) {
            double ms = 0;
            body = served.get(target, ms);
            times.push_back(ms);
        }
        const double ms = median(times);
        within = within && ms <= kFilterLimitMs;
        const qsizetype total = body.indexOf("\"total\":");
        std::printf("%d calls, %-26s %6.1f ms (limit %.0f ms, %s), %s calls\n", kCalls, what, ms,
                    kFilterLimitMs, ms <= kFilterLimitMs ? "ok" : "TOO SLOW",
                    body.mid(total + 8, body.indexOf('}', total) - total - 8).constData());
        std::fflush(stdout);
    }
    return within;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir xdg;
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(name, QFile::encodeName(xdg.filePath(QString::fromLatin1(name))));
    QCoreApplication app(argc, argv);
    const QString folder = recordingsFolder();
    if (QDir(folder).exists()) qFatal("%s exists already", qPrintable(folder));
    QDir().mkpath(folder);
    QString error;
    if (!storeWebPassword(kPassword, error)) qFatal("%s", qPrintable(error));

    const QString hour = QStringLiteral("2023-1-1080000.wav");
    QFile file(folder + u'/' + hour);
    file.open(QIODevice::WriteOnly);
    file.resize(kHourOfAudio + 44);
    file.close();
    streamed(QStringLiteral("127.0.0.2:0"), hour, kHourOfAudio + 44);
    streamed(QStringLiteral("127.0.0.1:0"), hour, kHourOfAudio + 44);
    QFile::remove(folder + u'/' + hour);
    fillFolder(folder, xdg.path());
    openJournal();
    const bool within = filters();
    QDir(folder).removeRecursively();
    return within ? 0 : 1;
}
