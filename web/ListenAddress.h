#pragma once

#include <QString>

#include <optional>

#include <sys/socket.h>

namespace tova {

// Where the web server listens: `[web] listen=` as "address", "address:port" or "[IPv6]:port",
// an IP address or localhost. Only the loopback host itself (127.0.0.1, ::1, localhost) is
// served over plain HTTP; any other address, the rest of 127.0.0.0/8 included, only over TLS.
struct ListenAddress {
    static constexpr quint16 kDefaultPort = 8787;

    sockaddr_storage socket{};
    QString host; // as an address in a URL: 127.0.0.1, [::1]
    quint16 port = kDefaultPort;
    bool tls = false;

    // The default for an empty text; nothing for one that is no address.
    static std::optional<ListenAddress> parse(const QString& text);
    bool isIPv6() const { return socket.ss_family == AF_INET6; }
    QString url() const;
};

} // namespace tova
