#pragma once

#include "CallTags.h"

#include <QHash>
#include <QList>
#include <QString>

namespace tova {

// One file of the recordings folder, as the index knows it.
struct Recording {
    QString fileName;
    TaggedCall tagged;
    qint64 size = 0;
    qint64 modifiedMs = 0; // the file's last change, ms since the epoch

    // Only a file with audio in it is a call.
    bool isCall() const { return tagged.milliseconds >= 0; }
    // When the call began: its start tag, else the file's last change.
    QDateTime started() const;
};

// What the files of the recordings folder say about their calls, kept in an SQLite database so
// that opening the window reads only the files that are new or changed since the last time. The
// files stay the record: a missing, outdated or corrupt database is made again from them, and a
// database that cannot be written only costs the time to read every file.
class RecordingIndex {
public:
    explicit RecordingIndex(const QString& folder);
    RecordingIndex(const QString& folder, const QString& databasePath);
    ~RecordingIndex();
    RecordingIndex(const RecordingIndex&) = delete;
    RecordingIndex& operator=(const RecordingIndex&) = delete;

    // $XDG_CACHE_HOME/tova/index-<digest of the folder's path>.sqlite: one per folder, so that
    // two copies of the program with folders of their own do not rebuild each other's.
    static QString defaultPath(const QString& folder);

    // Reads the folder: new and changed files are read, removed ones dropped.
    void refresh();

    // The file of that name, nullptr when the folder had none at the last refresh.
    const Recording* find(const QString& fileName) const;
    // Every file of the folder, by name, ignoring case.
    QList<const Recording*> recordings() const;

private:
    bool openDatabase();
    void rebuildDatabase();
    QHash<QString, Recording> storedRecordings();
    void store(const QList<Recording>& changed, const QStringList& removed);

    QString m_folder;
    QString m_databasePath;
    QString m_connection;
    QHash<QString, Recording> m_recordings;
};

} // namespace tova
