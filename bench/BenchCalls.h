#pragma once

// What both benchmarks of finding calls start from: a recordings folder of small tagged calls
// and a journal that holds the missed calls, with a note on each.
#include "AppInfo.h"
#include "CallTags.h"
#include "Journal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace tova::bench {

constexpr int kCallMs = 100;
constexpr int kSampleRate = 8000;
// One call in ten rang out.
constexpr int kMissedEvery = 10;
const QByteArray kTemplateNumber = QByteArrayLiteral("13800000000");
const QDateTime kFirstCall(QDate(2024, 1, 1), QTime(8, 0));

// Call i's number: 13800000000 + i.
inline QString numberOf(int i) {
    return QString::number(13800000000LL + i);
}
inline QDateTime startOf(int i) {
    return kFirstCall.addSecs(qint64(i) * 60);
}
// As the tags hold it.
inline QByteArray startTag(const QDateTime& start) {
    return start.toOffsetFromUtc(start.offsetFromUtc()).toString(Qt::ISODate).toLatin1();
}

// One tagged call as the recorder writes it, as bytes.
inline QByteArray templateCall(const QString& path) {
    SF_INFO info{0, kSampleRate, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    writeCallTags(file, {QString::fromLatin1(kTemplateNumber), QStringLiteral("王小明"), kIncoming,
                         kFirstCall});
    const std::vector<short> silence(kCallMs * kSampleRate / 1000);
    sf_write_short(file, silence.data(), sf_count_t(silence.size()));
    sf_close(file);
    QFile written(path);
    written.open(QIODevice::ReadOnly);
    return written.readAll();
}

// Calls from to calls, nine in ten of them: stored in the folder under a name of the
// recorder's kind and with a number of their own. The tenth is a missed call (journalOf).
inline bool isMissed(int i) {
    return i % kMissedEvery == kMissedEvery - 1;
}

inline void addRecordings(const QString& folder, const QByteArray& call, int from, int calls) {
    const qsizetype at = call.indexOf(kTemplateNumber);
    const qsizetype startAt = call.indexOf(startTag(kFirstCall));
    if (at < 0 || startAt < 0) qFatal("the template call has no number or start tag");
    QByteArray bytes = call;
    for (int i = from; i < calls; ++i) {
        if (isMissed(i)) continue;
        const QByteArray number = numberOf(i).toLatin1();
        bytes.replace(at, number.size(), number);
        const QByteArray start = startTag(startOf(i));
        bytes.replace(startAt, start.size(), start);
        QFile file(folder + u'/' + startOf(i).toString("yyyy-M-dHHmmss") + QStringLiteral(".wav"));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
    }
}

// A journal as it is before its index has read the folder: the missed calls of the first
// `calls`, each with a note. Made in a folder of its own, where nothing else has it open, so
// that closing it leaves it whole in its file; kept at saved, put in place by useJournal.
inline void makeJournal(int calls, const QString& saved) {
    const QString folder = QFileInfo(saved).path() + QStringLiteral("/empty");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    {
        Journal journal(folder);
        QList<CallAttempt> missed;
        for (int i = 0; i < calls; ++i)
            if (isMissed(i))
                missed.append({QStringLiteral("bench-%1").arg(i),
                               kMissed,
                               numberOf(i),
                               {},
                               startOf(i),
                               startOf(i),
                               {},
                               startOf(i).addSecs(8),
                               3});
        journal.saveAttempts(missed);
        QHash<qint64, QString> notes;
        for (const CallLogRow& row : journal.callLog({}, {}, 0, -1).rows)
            notes.insert(row.id, QStringLiteral("回电话 ") + row.number);
        journal.setNotes(notes);
    }
    QFile::remove(saved);
    if (!QFile::copy(Journal::path(folder), saved)) qFatal("cannot keep the journal");
}

// The program's own journal may open a new one meanwhile: the saved one replaces it whole.
inline void useJournal(const QString& folder, const QString& saved) {
    const QString path = Journal::path(folder);
    QDir(QFileInfo(path).path()).removeRecursively();
    QDir().mkpath(QFileInfo(path).path());
    QFile::remove(path + QStringLiteral(".new"));
    if (!QFile::copy(saved, path + QStringLiteral(".new")) ||
        std::rename(QFile::encodeName(path + QStringLiteral(".new")), QFile::encodeName(path)) != 0)
        qFatal("cannot put the journal back");
    for (const QString& part : {QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(path + part);
}

inline double msOf(const std::function<void()>& step) {
    QElapsedTimer timer;
    timer.start();
    step();
    return double(timer.nsecsElapsed()) / 1e6;
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline const char* verdict(double ms, double limit) {
    return ms <= limit ? "ok" : "TOO SLOW";
}

constexpr int kRuns = 3;
constexpr int kSizes[] = {10000, 100000};

// Fills the program's recordings folder, which must not be there yet, to each of kSizes calls
// in turn, and has `measure` time it there, the journal of that many calls kept at `saved` for
// useJournal. 0 when every size kept to its limits, 1 when one did not, 2 without a folder.
inline int overEachSize(
    const std::function<bool(const QString& folder, const QString& saved, int calls)>& measure) {
    const QString folder = recordingsFolder();
    if (QFileInfo::exists(folder) || !QDir().mkpath(folder)) {
        std::fprintf(stderr, "%s must not exist yet\n", qPrintable(folder));
        return 2;
    }
    QTemporaryDir scratch;
    const QByteArray call = templateCall(scratch.filePath("template.wav"));
    const QString saved = scratch.filePath("journal.sqlite");
    bool withinLimits = true;
    int calls = 0;
    for (const int size : kSizes) {
        addRecordings(folder, call, calls, size);
        calls = size;
        makeJournal(calls, saved);
        withinLimits = measure(folder, saved, calls) && withinLimits;
    }
    QDir(folder).removeRecursively();
    return withinLimits ? 0 : 1;
}

} // namespace tova::bench
