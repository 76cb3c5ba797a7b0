#pragma once

#include "HttpServer.h"
#include "Sessions.h"

#include <QString>

namespace tova {

// The web page's requests: login and logout, the call log page, its script and style, and the
// recordings of the folder; every one but the login page and its style behind a session.
class WebApp {
public:
    explicit WebApp(QString recordingsFolder);

    HttpResponse handle(const HttpRequest& request);
    // Ends the logins waiting out their delay.
    void stop() { m_throttle.stop(); }

private:
    struct Caller {
        QByteArray token;
        QByteArray csrf; // empty without a valid session
    };
    Caller caller(const HttpRequest& request);
    HttpResponse login(const HttpRequest& request);
    HttpResponse logout(const HttpRequest& request, const Caller& caller);
    HttpResponse page(const Caller& caller) const;
    HttpResponse recording(const HttpRequest& request) const;
    // Whether a request that changes something comes from this server's own page, and carries
    // the session's CSRF token.
    static bool fromOwnPage(const HttpRequest& request);
    static bool hasCsrfToken(const HttpRequest& request, const Caller& caller);

    QString m_folder;
    Sessions m_sessions;
    LoginThrottle m_throttle;
};

// The fields of a form's body (application/x-www-form-urlencoded).
QHash<QByteArray, QByteArray> formFields(const QByteArray& body);

} // namespace tova
