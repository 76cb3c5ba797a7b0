// The web server under load, through its own HTTP(S), in this process: the bytes per second of a
// recording streamed whole (an hour of telephone audio, 57.6 MB) over TLS at 127.0.0.2 and over
// plain HTTP at 127.0.0.1, each the median of 3 runs.
//   cmake --build build --target bench_web && build/bench/bench_web
// The recordings folder beside this program must not exist: it is made and removed; the
// password and the certificate go into temporary XDG folders.
#include "AppInfo.h"
#include "Certificate.h"
#include "ListenAddress.h"
#include "Password.h"
#include "WebApp.h"

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

void streamed(const QString& listen, const QString& name, qint64 size) {
    auto address = ListenAddress::parse(listen);
    QString error;
    const auto identity = address->tls ? tlsIdentity({}, {}, *address, error) : std::nullopt;
    WebApp app(recordingsFolder());
    HttpServer server([&app](const HttpRequest& request) { return app.handle(request); });
    if (!server.start(*address, identity ? &*identity : nullptr, error))
        qFatal("%s", qPrintable(error));
    const QByteArray cookie = logIn(*address, server.port());
    std::vector<double> rates;
    for (int run = 0; run < kRuns; ++run) {
        Client client(*address, server.port());
        QElapsedTimer timer;
        timer.start();
        qint64 bytes = 0;
        client.get("GET /files/" + name.toUtf8() + " HTTP/1.1\r\nHost: x\r\n" + cookie + "\r\n",
                   bytes);
        if (bytes != size) qFatal("%lld of %lld bytes", bytes, size);
        rates.push_back(double(bytes) / (double(timer.nsecsElapsed()) / 1e9));
    }
    std::printf("%-26s %7.1f MB/s (%s, median of %d)\n",
                qPrintable(address->tls ? QStringLiteral("streamed over TLS")
                                        : QStringLiteral("streamed over plain HTTP")),
                median(rates) / 1e6, qPrintable(address->host), kRuns);
    app.stop();
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

    const QString hour = QStringLiteral("2024-1-1080000.wav");
    QFile file(folder + u'/' + hour);
    file.open(QIODevice::WriteOnly);
    file.resize(kHourOfAudio + 44);
    file.close();
    streamed(QStringLiteral("127.0.0.2:0"), hour, kHourOfAudio + 44);
    streamed(QStringLiteral("127.0.0.1:0"), hour, kHourOfAudio + 44);
    QDir(folder).removeRecursively();
    return 0;
}
