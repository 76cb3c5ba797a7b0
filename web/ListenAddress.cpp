#include "ListenAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace tova {

namespace {

const QString kDefaultHost = QStringLiteral("127.0.0.1");

} // namespace

std::optional<ListenAddress> ListenAddress::parse(const QString& text) {
    const QString given = text.isEmpty() ? kDefaultHost : text;
    QString host = given, port;
    if (given.startsWith(u'[')) {
        const qsizetype close = given.indexOf(u']');
        if (close < 0 || (close + 1 < given.size() && given[close + 1] != u':'))
            return std::nullopt;
        host = given.mid(1, close - 1);
        port = given.mid(close + 2);
        if (close + 1 < given.size() && port.isEmpty()) return std::nullopt;
    } else if (given.count(u':') == 1) {
        // A bare IPv6 address has colons of its own and takes no port.
        host = given.section(u':', 0, 0);
        port = given.section(u':', 1);
        if (port.isEmpty()) return std::nullopt;
    }
    ListenAddress address;
    if (!port.isEmpty()) {
        bool ok = false;
        const uint number = port.toUInt(&ok);
        if (!ok || number > 65535 || !port.front().isDigit()) return std::nullopt;
        address.port = quint16(number);
    }
    const bool localhost = host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0;
    const QByteArray literal = localhost ? kDefaultHost.toLatin1() : host.toLatin1();
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.socket);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.socket);
    if (::inet_pton(AF_INET, literal.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(address.port);
        address.host = QString::fromLatin1(literal);
        address.tls = v4->sin_addr.s_addr != htonl(INADDR_LOOPBACK);
    } else if (::inet_pton(AF_INET6, literal.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(address.port);
        char shown[INET6_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET6, &v6->sin6_addr, shown, sizeof shown);
        address.host = u'[' + QString::fromLatin1(shown) + u']';
        address.tls = !IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
    } else {
        return std::nullopt;
    }
    return address;
}

QString ListenAddress::url() const {
    return QStringLiteral("%1://%2:%3/").arg(tls ? u"https" : u"http", host).arg(port);
}

} // namespace tova
