#include "WebCalls.h"

#include "FileNames.h"
#include "JournalService.h"
#include "RegionalClock.h"
#include "WebApp.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <future>

namespace tova {

namespace {

constexpr qint64 kPageRows = 100;
// A list waits less than the journal's own wait for another program's lock, so that a held
// journal is told as such; a note waits for the journal's verdict.
constexpr std::chrono::seconds kListWait{4};
constexpr std::chrono::seconds kNoteWait{15};

const QString kHeld = QStringLiteral("通话记录正被另一个程序占用，请稍后再试。");

template <class Result>
std::optional<Result> onJournal(std::function<Result(Journal&)> work, std::chrono::seconds wait) {
    auto promise = std::make_shared<std::promise<Result>>();
    std::future<Result> answer = promise->get_future();
    JournalService::instance().ask<bool>(
        nullptr,
        [promise, work = std::move(work)](Journal& journal) {
            promise->set_value(work(journal));
            return true;
        },
        [](const bool&) {});
    if (answer.wait_for(wait) != std::future_status::ready) return std::nullopt;
    return answer.get();
}

CallLogFilter filterOf(const HttpRequest& request) {
    CallLogFilter filter;
    filter.text = QString::fromUtf8(request.query.value("q"));
    filter.direction = QString::fromUtf8(request.query.value("direction"));
    const QByteArray period = request.query.value("period");
    const QDate today = ClockSeam::get().now().date();
    if (period == "today" || period == "7" || period == "30") {
        filter.to = today;
        filter.from = today.addDays(period == "today" ? 0 : 1 - period.toInt());
    } else if (period == "range") {
        filter.from =
            QDate::fromString(QString::fromLatin1(request.query.value("from")), Qt::ISODate);
        filter.to = QDate::fromString(QString::fromLatin1(request.query.value("to")), Qt::ISODate);
    }
    filter.shortestMs = std::max(0LL, request.query.value("shortest").toLongLong()) * 1000;
    return filter;
}

QJsonObject json(const CallLogRow& row) {
    const RegionalClock& clock = ClockSeam::get();
    return {{"id", QString::number(row.id)},
            {"date", clock.dateText(row.start.date())},
            {"time", clock.timeText(row.start.time())},
            {"direction", row.direction},
            {"number", row.number},
            {"name", row.name()},
            {"length", row.milliseconds < 0 ? QString()
                                            : secondsText(row.milliseconds, clock.decimalPoint()) +
                                                  QStringLiteral(" 秒")},
            {"note", row.note},
            {"file", displayFileName(row.fileName)},
            {"url",
             row.hasRecording()
                 ? QString::fromLatin1("/files/" + fileNameBytes(row.fileName).toPercentEncoding())
                 : QString()}};
}

} // namespace

void openJournal() {
    // A broken journal is moved aside and made anew: where it went is for the user's log.
    QObject::connect(&JournalService::instance(), &JournalService::problem,
                     [](const QString& message) {
                         std::fprintf(stderr, "tova-recorder: %s\n", message.toUtf8().constData());
                     });
}

HttpResponse callLogPage(const HttpRequest& request) {
    const CallLogFilter filter = filterOf(request);
    const int column = request.query.value("sort").toInt();
    const CallLogOrder order{CallLogColumn(std::clamp(column, 0, kCallLogColumnCount - 1)),
                             request.query.value("order") != "asc"};
    const qint64 offset = std::max(0LL, request.query.value("page").toLongLong()) * kPageRows;
    const auto page = onJournal<CallLogPage>(
        [=](Journal& journal) { return journal.callLog(filter, order, offset, kPageRows); },
        kListWait);
    if (!page) return HttpResponse::message(503, kHeld);
    QJsonArray rows;
    for (const CallLogRow& row : page->rows)
        rows.append(json(row));
    QByteArray body =
        QJsonDocument(QJsonObject{{"total", page->total}, {"pageSize", kPageRows}, {"rows", rows}})
            .toJson(QJsonDocument::Compact);
    // Never markup, even to a reader that takes it for HTML.
    body.replace('<', "\\u003c").replace('>', "\\u003e").replace('&', "\\u0026");
    return HttpResponse::content(200, "application/json", body);
}

HttpResponse saveNote(const HttpRequest& request) {
    const auto fields = formFields(request.body);
    bool numbered = false;
    const qint64 id = fields.value("id").toLongLong(&numbered);
    const QString note = QString::fromUtf8(fields.value("note"));
    if (!numbered) return HttpResponse::message(400, QStringLiteral("没有说是哪个通话。"));
    // Whether the call is there, when the note was not saved: missing, or a journal held.
    const auto saved = onJournal<std::pair<bool, bool>>(
        [=](Journal& journal) {
            const bool done = journal.setNote(id, note);
            return std::pair{done, done || journal.call(id).has_value()};
        },
        kNoteWait);
    if (!saved || (!saved->first && saved->second))
        return HttpResponse::message(503, QStringLiteral("备注没有保存：") + kHeld);
    if (!saved->first) return HttpResponse::message(404, QStringLiteral("没有这个通话。"));
    return HttpResponse::message(200, QStringLiteral("备注已保存。"));
}

} // namespace tova
