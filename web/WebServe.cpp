#include "WebServe.h"

#include "AppInfo.h"
#include "Certificate.h"
#include "ListenAddress.h"
#include "Password.h"
#include "Settings.h"
#include "WebApp.h"
#include "WebCalls.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

#include <sys/signalfd.h>
#include <unistd.h>

namespace tova {

namespace {

void print(std::FILE* stream, const QString& text) {
    std::fputs((text + u'\n').toUtf8().constData(), stream);
    std::fflush(stream);
}

void refuse(const QString& text) {
    print(stderr, QStringLiteral("tova-recorder: ") + text);
}

// The signals that stop the server, read as events of the main loop; blocked before any of the
// server's threads exist, so that none of them takes one.
int stopSignals() {
    sigset_t stopping;
    sigemptyset(&stopping);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&stopping, signal);
    ::pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    return ::signalfd(-1, &stopping, SFD_CLOEXEC);
}

} // namespace

int setWebPassword() {
    return setWebPasswordFromTerminal();
}

int serveWeb() {
    const Settings& settings = Settings::current();
    std::optional<ListenAddress> address = ListenAddress::parse(settings.webListen);
    if (!address) {
        refuse(QStringLiteral("tova.conf 里的 [web] listen=%1 不是可用的地址，改用 127.0.0.1:%2。")
                   .arg(settings.webListen)
                   .arg(ListenAddress::kDefaultPort));
        address = ListenAddress::parse({});
    }
    if (!hasWebPassword()) {
        refuse(QStringLiteral(
            "还没有设置网页密码。请先运行 tova-recorder --set-web-password 设置密码。"));
        return 1;
    }
    QString error;
    std::optional<TlsIdentity> identity;
    if (address->tls) {
        identity = tlsIdentity(settings.webCertificate, settings.webKey, *address, error);
        if (!identity) {
            refuse(error);
            return 1;
        }
    }
    const int signalFd = stopSignals();
    QSocketNotifier stop(signalFd, QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, QCoreApplication::instance(),
                     &QCoreApplication::quit);

    openJournal();
    WebApp app(recordingsFolder());
    HttpServer server([&app](const HttpRequest& request) { return app.handle(request); });
    if (!server.start(*address, identity ? &*identity : nullptr, error)) {
        refuse(error);
        return 1;
    }
    address->port = server.port();
    print(stdout, QStringLiteral("TOVA电话录音系统的网页：%1").arg(address->url()));
    if (identity)
        print(stdout, QStringLiteral("证书的 SHA-256 指纹：%1").arg(identity->fingerprint));
    const int status = QCoreApplication::exec();
    app.stop();
    server.stop();
    ::close(signalFd);
    return status;
}

} // namespace tova
