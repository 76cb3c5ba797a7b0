#include "Certificate.h"

#include "ListenAddress.h"
#include "PrivateFile.h"

#include <QFile>
#include <QStandardPaths>

#include <ctime>
#include <memory>

#include <gnutls/crypto.h>
#include <gnutls/x509.h>
#include <netinet/in.h>
#include <unistd.h>

namespace tova {

namespace {

using Certificate = std::unique_ptr<gnutls_x509_crt_int, decltype(&gnutls_x509_crt_deinit)>;
using PrivateKey = std::unique_ptr<gnutls_x509_privkey_int, decltype(&gnutls_x509_privkey_deinit)>;

constexpr std::time_t kValidity = std::time_t(10) * 365 * 24 * 3600;
constexpr std::time_t kClockSkew = 24 * 3600;
const char kCommonName[] = "TOVA tova-recorder";

QString dataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/tova/");
}

QByteArray exported(int result, gnutls_datum_t& datum) {
    QByteArray bytes;
    if (result == GNUTLS_E_SUCCESS)
        bytes = QByteArray(reinterpret_cast<char*>(datum.data), qsizetype(datum.size));
    gnutls_free(datum.data);
    return bytes;
}

// The first certificate of the PEM text, nothing when it holds none.
Certificate firstCertificate(const QByteArray& pem) {
    gnutls_x509_crt_t certificate = nullptr;
    gnutls_x509_crt_init(&certificate);
    Certificate owned(certificate, gnutls_x509_crt_deinit);
    const gnutls_datum_t datum{reinterpret_cast<unsigned char*>(const_cast<char*>(pem.data())),
                               unsigned(pem.size())};
    if (gnutls_x509_crt_import(certificate, &datum, GNUTLS_X509_FMT_PEM) != GNUTLS_E_SUCCESS)
        owned.reset();
    return owned;
}

QString fingerprint(gnutls_x509_crt_t certificate) {
    unsigned char digest[32];
    size_t size = sizeof digest;
    if (gnutls_x509_crt_get_fingerprint(certificate, GNUTLS_DIG_SHA256, digest, &size) !=
        GNUTLS_E_SUCCESS)
        return {};
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<char*>(digest), qsizetype(size)).toHex(':').toUpper());
}

// A self-signed server certificate for the host's name, localhost and the address listened on.
std::optional<TlsIdentity> makeSelfSigned(const ListenAddress& address) {
    gnutls_x509_privkey_t key = nullptr;
    gnutls_x509_crt_t certificate = nullptr;
    gnutls_x509_privkey_init(&key);
    gnutls_x509_crt_init(&certificate);
    const PrivateKey ownedKey(key, gnutls_x509_privkey_deinit);
    const Certificate owned(certificate, gnutls_x509_crt_deinit);

    unsigned char serial[16];
    gnutls_rnd(GNUTLS_RND_NONCE, serial, sizeof serial);
    serial[0] &= 0x7F; // a positive number, as DER wants it
    unsigned char keyId[64];
    size_t keyIdSize = sizeof keyId;
    char hostName[256] = {};
    ::gethostname(hostName, sizeof hostName - 1);
    const std::time_t now = std::time(nullptr);
    bool made =
        gnutls_x509_privkey_generate(key, GNUTLS_PK_ECDSA,
                                     GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0) == 0 &&
        gnutls_x509_crt_set_key(certificate, key) == 0 &&
        gnutls_x509_crt_set_version(certificate, 3) == 0 &&
        gnutls_x509_crt_set_serial(certificate, serial, sizeof serial) == 0 &&
        gnutls_x509_crt_set_activation_time(certificate, now - kClockSkew) == 0 &&
        gnutls_x509_crt_set_expiration_time(certificate, now + kValidity) == 0 &&
        gnutls_x509_crt_set_dn_by_oid(certificate, GNUTLS_OID_X520_COMMON_NAME, 0, kCommonName,
                                      sizeof kCommonName - 1) == 0 &&
        gnutls_x509_crt_set_basic_constraints(certificate, 0, -1) == 0 &&
        gnutls_x509_crt_set_key_usage(certificate, GNUTLS_KEY_DIGITAL_SIGNATURE) == 0 &&
        gnutls_x509_crt_set_key_purpose_oid(certificate, GNUTLS_KP_TLS_WWW_SERVER, 1) == 0 &&
        gnutls_x509_crt_get_key_id(certificate, 0, keyId, &keyIdSize) == 0 &&
        gnutls_x509_crt_set_subject_key_id(certificate, keyId, keyIdSize) == 0 &&
        gnutls_x509_crt_set_subject_alt_name(certificate, GNUTLS_SAN_DNSNAME, "localhost", 9,
                                             GNUTLS_FSAN_APPEND) == 0;
    if (made && hostName[0])
        made = gnutls_x509_crt_set_subject_alt_name(certificate, GNUTLS_SAN_DNSNAME, hostName,
                                                    unsigned(qstrlen(hostName)),
                                                    GNUTLS_FSAN_APPEND) == 0;
    // An address of every interface (0.0.0.0, ::) names no host of its own.
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address.socket);
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address.socket);
    if (made && !address.isIPv6() && v4->sin_addr.s_addr != htonl(INADDR_ANY))
        made = gnutls_x509_crt_set_subject_alt_name(certificate, GNUTLS_SAN_IPADDRESS,
                                                    &v4->sin_addr, 4, GNUTLS_FSAN_APPEND) == 0;
    if (made && address.isIPv6() && !IN6_IS_ADDR_UNSPECIFIED(&v6->sin6_addr))
        made = gnutls_x509_crt_set_subject_alt_name(certificate, GNUTLS_SAN_IPADDRESS,
                                                    &v6->sin6_addr, 16, GNUTLS_FSAN_APPEND) == 0;
    if (!made || gnutls_x509_crt_sign2(certificate, certificate, key, GNUTLS_DIG_SHA256, 0) != 0)
        return std::nullopt;
    gnutls_datum_t certificateText{}, keyText{};
    TlsIdentity identity{
        exported(gnutls_x509_crt_export2(certificate, GNUTLS_X509_FMT_PEM, &certificateText),
                 certificateText),
        exported(gnutls_x509_privkey_export2(key, GNUTLS_X509_FMT_PEM, &keyText), keyText),
        fingerprint(certificate)};
    if (identity.certificatePem.isEmpty() || identity.keyPem.isEmpty()) return std::nullopt;
    return identity;
}

std::optional<QByteArray> contents(const QString& path, QString& error) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) return file.readAll();
    error = QStringLiteral("不能读取 %1：%2").arg(path, file.errorString());
    return std::nullopt;
}

} // namespace

QString selfSignedCertificatePath() {
    return dataFolder() + QStringLiteral("web-certificate.pem");
}

QString selfSignedKeyPath() {
    return dataFolder() + QStringLiteral("web-key.pem");
}

std::optional<TlsIdentity> tlsIdentity(const QString& certificateFile, const QString& keyFile,
                                       const ListenAddress& address, QString& error) {
    if (certificateFile.isEmpty() != keyFile.isEmpty()) {
        error = QStringLiteral("[web] certificate= 和 [web] key= 要一起设置。");
        return std::nullopt;
    }
    const bool own = !certificateFile.isEmpty();
    const QString certificatePath = own ? certificateFile : selfSignedCertificatePath();
    const QString keyPath = own ? keyFile : selfSignedKeyPath();
    if (!own && !QFile::exists(certificatePath)) {
        auto made = makeSelfSigned(address);
        if (!made) {
            error = QStringLiteral("不能生成自签名证书。");
            return std::nullopt;
        }
        if (!writePrivateFile(keyPath, made->keyPem, error) ||
            !writePrivateFile(certificatePath, made->certificatePem, error))
            return std::nullopt;
        return made;
    }
    const auto certificatePem = contents(certificatePath, error);
    const auto keyPem = certificatePem ? contents(keyPath, error) : std::nullopt;
    if (!keyPem) return std::nullopt;
    const Certificate first = firstCertificate(*certificatePem);
    if (!first) {
        error = QStringLiteral("%1 里没有 PEM 格式的证书。").arg(certificatePath);
        return std::nullopt;
    }
    return TlsIdentity{*certificatePem, *keyPem, fingerprint(first.get())};
}

} // namespace tova
