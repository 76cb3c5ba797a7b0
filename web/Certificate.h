#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace tova {

struct ListenAddress;

// What the server shows a browser over TLS: a certificate chain and its private key, as PEM.
struct TlsIdentity {
    QByteArray certificatePem;
    QByteArray keyPem;
    QString fingerprint; // SHA-256 of the first certificate, as browsers show it: "AB:CD:…"
};

// The self-signed certificate's files in $XDG_DATA_HOME/tova/.
QString selfSignedCertificatePath();
QString selfSignedKeyPath();

// From `[web] certificate=` and `[web] key=` when both are set; otherwise the self-signed
// certificate, made the first time (an ECDSA P-256 key, 0600) and kept. The reason of a
// failure goes to error.
std::optional<TlsIdentity> tlsIdentity(const QString& certificateFile, const QString& keyFile,
                                       const ListenAddress& address, QString& error);

} // namespace tova
