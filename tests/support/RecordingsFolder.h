#pragma once

#include "AppInfo.h"

#include <QDir>

namespace tova::test {

// The recordings folder beside the test program, there for the life of this object.
struct RecordingsFolder {
    RecordingsFolder() { QDir().mkpath(path()); }
    ~RecordingsFolder() { QDir(path()).removeRecursively(); }

    static QString path() { return recordingsFolder(); }
    static QString file(const QString& name) { return path() + u'/' + name; }
    static QStringList files() { return QDir(path()).entryList(QDir::Files, QDir::Name); }
};

} // namespace tova::test
