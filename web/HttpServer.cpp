#include "HttpServer.h"

#include "Certificate.h"
#include "ListenAddress.h"

#include <cstring>

#include <arpa/inet.h>
#include <microhttpd.h>
#include <unistd.h>

namespace tova {

namespace {

constexpr unsigned kConnections = 64;
constexpr unsigned kConnectionsPerAddress = 32;
// A browser that stops reading a recording it has buffered far enough keeps its connection.
constexpr unsigned kIdleSeconds = 120;
const char kTlsPriorities[] = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";
// Every answer: the page's own scripts, styles and media only, in no frame; no type guessed.
const char* const kSecurityHeaders[][2] = {
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; media-src 'self'; "
     "connect-src 'self'; img-src 'self'; form-action 'self'; frame-ancestors 'none'; "
     "base-uri 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "same-origin"},
    {"Cache-Control", "no-store"},
};

struct Exchange {
    HttpRequest request;
    bool tooLarge = false;
};

QByteArray decoded(const char* text, bool formField) {
    QByteArray bytes(text ? text : "");
    if (formField) bytes.replace('+', ' ');
    return QByteArray::fromPercentEncoding(bytes);
}

MHD_Result header(void* headers, MHD_ValueKind, const char* name, const char* value) {
    static_cast<QHash<QByteArray, QByteArray>*>(headers)->insert(QByteArray(name).toLower(),
                                                                 value ? value : "");
    return MHD_YES;
}

MHD_Result argument(void* query, MHD_ValueKind, const char* name, const char* value) {
    static_cast<QHash<QByteArray, QByteArray>*>(query)->insert(decoded(name, true),
                                                               decoded(value, true));
    return MHD_YES;
}

// The path and the query's fields are decoded here, from the bytes as sent: the library's own
// decoding would end a name at "%00".
size_t keepEscapes(void*, MHD_Connection*, char* text) {
    return std::strlen(text);
}

QString clientAddress(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    char text[INET6_ADDRSTRLEN] = {};
    if (!info || !info->client_addr) return {};
    if (info->client_addr->sa_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(info->client_addr)->sin6_addr,
                    text, sizeof text);
    else
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr,
                    text, sizeof text);
    return QString::fromLatin1(text);
}

MHD_Result queue(MHD_Connection* connection, const HttpResponse& answer) {
    MHD_Response* response =
        answer.fd >= 0 ? MHD_create_response_from_fd_at_offset64(quint64(answer.length), answer.fd,
                                                                 quint64(answer.offset))
                       : MHD_create_response_from_buffer(size_t(answer.body.size()),
                                                         const_cast<char*>(answer.body.constData()),
                                                         MHD_RESPMEM_MUST_COPY);
    if (!response) {
        if (answer.fd >= 0) ::close(answer.fd);
        return MHD_NO;
    }
    for (const auto& [name, value] : answer.headers)
        MHD_add_response_header(response, name.constData(), value.constData());
    for (const auto& [name, value] : kSecurityHeaders)
        MHD_add_response_header(response, name, value);
    const MHD_Result result = MHD_queue_response(connection, unsigned(answer.status), response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result access(void* server, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char* upload, size_t* uploadSize, void** state) {
    const auto& http = *static_cast<const HttpServer*>(server);
    auto* exchange = static_cast<Exchange*>(*state);
    if (!exchange) {
        exchange = new Exchange;
        *state = exchange;
        HttpRequest& request = exchange->request;
        request.method = method;
        request.path = decoded(url, false);
        request.client = clientAddress(connection);
        request.tls = http.isTls();
        MHD_get_connection_values(connection, MHD_HEADER_KIND, header, &request.headers);
        MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, argument, &request.query);
        // Refused before a byte of it is read; the library then closes the connection.
        if (request.header("content-length").toLongLong() > HttpServer::kMaxBody)
            return queue(connection, HttpResponse::message(413, QStringLiteral("请求太大。")));
        return MHD_YES;
    }
    if (*uploadSize > 0) {
        // A chunked body without a length is counted as it comes, and dropped once too long.
        exchange->tooLarge =
            exchange->tooLarge ||
            exchange->request.body.size() + qint64(*uploadSize) > HttpServer::kMaxBody;
        if (!exchange->tooLarge) exchange->request.body.append(upload, qsizetype(*uploadSize));
        *uploadSize = 0;
        return MHD_YES;
    }
    return queue(connection, exchange->tooLarge
                                 ? HttpResponse::message(413, QStringLiteral("请求太大。"))
                                 : http.handle(exchange->request));
}

void completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
    delete static_cast<Exchange*>(*state);
    *state = nullptr;
}

} // namespace

QByteArray HttpRequest::cookie(const QByteArray& name) const {
    for (const QByteArray& pair : header("cookie").split(';')) {
        const QByteArray trimmed = pair.trimmed();
        if (trimmed.startsWith(name + '=')) return trimmed.mid(name.size() + 1);
    }
    return {};
}

HttpResponse HttpResponse::content(int status, const QByteArray& type, const QByteArray& body) {
    HttpResponse response;
    response.status = status;
    response.body = body;
    response.header("Content-Type", type);
    return response;
}

HttpResponse HttpResponse::message(int status, const QString& text) {
    return content(status, "text/plain; charset=utf-8", text.toUtf8() + '\n');
}

HttpServer::HttpServer(Handler handler)
    : m_handler(std::move(handler)) {}

HttpServer::~HttpServer() {
    stop();
}

bool HttpServer::start(const ListenAddress& address, const TlsIdentity* identity, QString& error) {
    m_tls = identity != nullptr;
    unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
                     MHD_USE_AUTO | MHD_USE_ERROR_LOG;
    if (address.isIPv6()) flags |= MHD_USE_IPv6;
    if (m_tls) {
        flags |= MHD_USE_TLS;
        m_certificate = identity->certificatePem;
        m_key = identity->keyPem;
    }
    // The certificate options last: without TLS the library takes none.
    m_daemon = MHD_start_daemon(
        flags, address.port, nullptr, nullptr, access, this, MHD_OPTION_SOCK_ADDR, &address.socket,
        MHD_OPTION_CONNECTION_LIMIT, kConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
        kConnectionsPerAddress, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
        MHD_OPTION_NOTIFY_COMPLETED, completed, nullptr, MHD_OPTION_UNESCAPE_CALLBACK, keepEscapes,
        nullptr, m_tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, m_certificate.constData(),
        MHD_OPTION_HTTPS_MEM_KEY, m_key.constData(), MHD_OPTION_HTTPS_PRIORITIES, kTlsPriorities,
        MHD_OPTION_END);
    if (m_daemon) return true;
    // The library has said why just before (the address taken, a key that is not the
    // certificate's).
    error = QStringLiteral("不能在 %1 上提供网页。").arg(address.url());
    return false;
}

quint16 HttpServer::port() const {
    const MHD_DaemonInfo* info =
        m_daemon ? MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT) : nullptr;
    return info ? info->port : 0;
}

void HttpServer::stop() {
    if (m_daemon) MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
}

} // namespace tova
