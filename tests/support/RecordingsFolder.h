#pragma once

#include "AppInfo.h"
#include "RegionalClock.h"

#include <QDir>

namespace tova::test {

// The recordings folder beside the test program, there for the life of this object.
struct RecordingsFolder {
    RecordingsFolder() { QDir().mkpath(path()); }
    ~RecordingsFolder() { QDir(path()).removeRecursively(); }

    static QString path() { return recordingsFolder(); }
    static QString file(const QString& name) { return path() + u'/' + name; }
    static QStringList files() { return QDir(path()).entryList(QDir::Files, QDir::Name); }
    // The names a call stored between the two moments can have, by the user's formats.
    static QStringList namesBetween(const QDateTime& from, const QDateTime& to) {
        const RegionalClock& clock = ClockSeam::get();
        const QString date = clock.dateText(from.date()).replace(u'/', u'-').replace(u'\\', u'-');
        QStringList names;
        for (QDateTime t = from.addSecs(-1); t <= to.addSecs(1); t = t.addSecs(1))
            names << date + clock.timeText(t.time()).remove(u':') + QStringLiteral(".wav");
        return names;
    }
};

} // namespace tova::test
