#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

struct MHD_Daemon;

namespace tova {

struct ListenAddress;
struct TlsIdentity;

struct HttpRequest {
    QByteArray method;
    QByteArray path;                       // percent-decoded: the bytes as sent
    QHash<QByteArray, QByteArray> query;   // decoded
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    QString client; // the peer's address
    bool tls = false;

    QByteArray header(const QByteArray& name) const { return headers.value(name); }
    // A cookie of the Cookie header.
    QByteArray cookie(const QByteArray& name) const;
};

struct HttpResponse {
    int status = 200;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // A file's bytes instead of body: the descriptor goes to the response, which closes it.
    int fd = -1;
    qint64 offset = 0;
    qint64 length = 0;

    HttpResponse& header(const QByteArray& name, const QByteArray& value) {
        headers.append({name, value});
        return *this;
    }
    static HttpResponse content(int status, const QByteArray& type, const QByteArray& body);
    // A short text in the page's language, for statuses that end a request.
    static HttpResponse message(int status, const QString& text);
};

// An HTTP(S) server over GNU libmicrohttpd: a thread per connection, each request handed to
// the handler on it with its body read (at most maxBody bytes: a longer one is answered 413
// without being kept), files sent from their descriptor in blocks, never read whole.
class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    static constexpr qint64 kMaxBody = 64 * 1024;

    explicit HttpServer(Handler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // TLS when identity is given. The reason of a failure goes to error.
    bool start(const ListenAddress& address, const TlsIdentity* identity, QString& error);
    // The port listened on, also when the address asked for any (0).
    quint16 port() const;
    void stop();

    // The request as the library's callbacks hand it over.
    HttpResponse handle(const HttpRequest& request) const { return m_handler(request); }
    bool isTls() const { return m_tls; }

private:
    Handler m_handler;
    bool m_tls = false;
    MHD_Daemon* m_daemon = nullptr;
    QByteArray m_certificate, m_key;
};

} // namespace tova
