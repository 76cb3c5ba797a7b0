#include "WebApp.h"

#include "FileNames.h"
#include "Password.h"
#include "RecordingFile.h"
#include "WebCalls.h"

#include <QFile>

#include <sodium.h>
#include <unistd.h>

namespace tova {

namespace {

const QByteArray kCookie = "tova_session";
const QByteArray kCsrfHeader = "x-csrf-token";
const QByteArray kHtml = "text/html; charset=utf-8";

QByteArray asset(const QString& name) {
    QFile file(QStringLiteral(":/web/") + name);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

SteadyTime now() {
    return std::chrono::steady_clock::now();
}

HttpResponse redirect(const QByteArray& to) {
    HttpResponse response = HttpResponse::message(303, QString());
    response.header("Location", to);
    return response;
}

HttpResponse loginPage(int status, const QString& message) {
    QByteArray page = asset(QStringLiteral("login.html"));
    page.replace("{{message}}", message.toUtf8());
    return HttpResponse::content(status, kHtml, page);
}

bool sameToken(const QByteArray& given, const QByteArray& expected) {
    return !expected.isEmpty() && given.size() == expected.size() &&
           sodium_memcmp(given.constData(), expected.constData(), size_t(given.size())) == 0;
}

} // namespace

QHash<QByteArray, QByteArray> formFields(const QByteArray& body) {
    QHash<QByteArray, QByteArray> fields;
    for (const QByteArray& pair : body.split('&')) {
        const qsizetype equals = pair.indexOf('=');
        const auto field = [](QByteArray text) {
            return QByteArray::fromPercentEncoding(text.replace('+', ' '));
        };
        if (equals > 0) fields.insert(field(pair.left(equals)), field(pair.mid(equals + 1)));
    }
    return fields;
}

WebApp::WebApp(QString recordingsFolder)
    : m_folder(std::move(recordingsFolder)) {}

WebApp::Caller WebApp::caller(const HttpRequest& request) {
    Caller caller{request.cookie(kCookie), {}};
    if (!caller.token.isEmpty())
        caller.csrf = m_sessions.csrfToken(caller.token, now()).value_or(QByteArray());
    return caller;
}

HttpResponse WebApp::handle(const HttpRequest& request) {
    const Caller who = caller(request);
    const bool get = request.method == "GET" || request.method == "HEAD";
    const bool post = request.method == "POST";
    const QByteArray& path = request.path;
    HttpResponse response = HttpResponse::message(404, QStringLiteral("没有这个网页或文件。"));
    if (!get && !post) {
        response = HttpResponse::message(405, QStringLiteral("不支持这种请求。"));
    } else if (path == "/style.css" && get) {
        response = HttpResponse::content(200, "text/css; charset=utf-8", asset("style.css"));
    } else if (path == "/login" && get) {
        response = who.csrf.isEmpty() ? loginPage(200, {}) : redirect("/");
    } else if (post && !fromOwnPage(request)) {
        response = HttpResponse::message(403, QStringLiteral("请求不是来自本网页，已拒绝。"));
    } else if (path == "/login" && post) {
        response = login(request);
    } else if (who.csrf.isEmpty()) {
        // Everything else is for a logged-in browser only.
        response = get && path == "/" ? redirect("/login")
                                      : HttpResponse::message(401, QStringLiteral("请先登录。"));
    } else if (post && !hasCsrfToken(request, who)) {
        response = HttpResponse::message(403, QStringLiteral("网页已过期，请重新打开。"));
    } else if (path == "/logout" && post) {
        response = logout(request, who);
    } else if (path == "/" && get) {
        response = page(who);
    } else if (path == "/app.js" && get) {
        response = HttpResponse::content(200, "text/javascript; charset=utf-8", asset("app.js"));
    } else if (path.startsWith("/files/") && get) {
        response = recording(request);
    } else if (path == "/api/calls" && get) {
        response = callLogPage(request);
    } else if (path == "/api/note" && post) {
        response = saveNote(request);
    }
    return response;
}

bool WebApp::fromOwnPage(const HttpRequest& request) {
    const QByteArray origin = (request.tls ? "https://" : "http://") + request.header("host");
    const QByteArray site = request.header("sec-fetch-site");
    return request.header("origin") == origin && (site.isEmpty() || site == "same-origin");
}

bool WebApp::hasCsrfToken(const HttpRequest& request, const Caller& caller) {
    const QByteArray token = request.headers.contains(kCsrfHeader)
                                 ? request.header(kCsrfHeader)
                                 : formFields(request.body).value("csrf");
    return sameToken(token, caller.csrf);
}

HttpResponse WebApp::login(const HttpRequest& request) {
    const QByteArray password = formFields(request.body).value("password");
    if (!m_throttle.attempt(request.client, [&] { return isWebPassword(password); }))
        return loginPage(401, QStringLiteral("密码不对。"));
    HttpResponse response = redirect("/");
    QByteArray cookie =
        kCookie + '=' + m_sessions.open(now()) + "; Path=/; Max-Age=" +
        QByteArray::number(qint64(std::chrono::seconds(Sessions::kSessionLifetime).count())) +
        "; HttpOnly; SameSite=Strict";
    if (request.tls) cookie += "; Secure";
    response.header("Set-Cookie", cookie);
    return response;
}

HttpResponse WebApp::logout(const HttpRequest& request, const Caller& caller) {
    m_sessions.close(caller.token);
    HttpResponse response = redirect("/login");
    response.header("Set-Cookie", kCookie + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict" +
                                      (request.tls ? "; Secure" : ""));
    return response;
}

HttpResponse WebApp::page(const Caller& caller) const {
    QByteArray page = asset(QStringLiteral("index.html"));
    page.replace("{{csrf}}", caller.csrf);
    return HttpResponse::content(200, kHtml, page);
}

HttpResponse WebApp::recording(const HttpRequest& request) const {
    const QByteArray name = request.path.mid(qsizetype(sizeof "/files/") - 1);
    const auto file = openRecording(m_folder, name);
    if (!file) return HttpResponse::message(404, QStringLiteral("录音文件夹里没有这个文件。"));
    HttpResponse response;
    response.fd = file->fd;
    response.length = file->size;
    response.header("Content-Type", "audio/wav").header("Accept-Ranges", "bytes");
    if (request.headers.contains("range")) {
        const auto range = byteRange(request.header("range"), file->size);
        if (!range) {
            ::close(file->fd);
            return HttpResponse::message(416, QStringLiteral("请求的范围不对。"))
                .header("Content-Range", "bytes */" + QByteArray::number(file->size));
        }
        response.status = 206;
        response.offset = range->first;
        response.length = range->length;
        response.header("Content-Range", QStringLiteral("bytes %1-%2/%3")
                                             .arg(range->first)
                                             .arg(range->first + range->length - 1)
                                             .arg(file->size)
                                             .toLatin1());
    }
    const QByteArray shown = displayFileName(fileNameFromBytes(name)).toUtf8().toPercentEncoding();
    response.header("Content-Disposition",
                    (request.query.contains("download") ? "attachment" : "inline") +
                        QByteArray("; filename*=UTF-8''") + shown);
    return response;
}

} // namespace tova
