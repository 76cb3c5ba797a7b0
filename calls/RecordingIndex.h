#pragma once

#include "CallTags.h"
#include "FolderFiles.h"

#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <optional>

namespace tova {

// What the index of a recordings folder knows of each file (size, times, inode, whether it
// holds audio), kept in the journal's table `files`, so that only new and changed files are
// read. The files stay the record: what the index says of a file whose size, change time,
// inode or modification time differ is read again.
class RecordingIndex {
public:
    struct Learned {
        FolderFile file;
        TaggedCall tagged;
        bool isCall() const { return tagged.milliseconds >= 0; }
    };

    explicit RecordingIndex(const QString& folder);

    static QString createTable();

    // Compares the folder with the table: what is new or changed waits to be read, what has
    // gone waits to be dropped.
    void scan(QSqlDatabase& db);
    // Reads up to count of the files that wait, with their tags.
    QList<Learned> readSome(int count);
    QStringList takeRemoved();
    // One file, read now when the index has no up-to-date entry for it; nothing when the
    // entry is up to date or the file is not there.
    std::optional<Learned> readIfChanged(QSqlDatabase& db, const QString& name);

    // Puts what was read into the table, or drops a file from it.
    static bool store(QSqlDatabase& db, const Learned& learned);
    static bool forget(QSqlDatabase& db, const QString& name);

    qint64 filesInFolder() const { return m_inFolder; }
    qint64 waiting() const { return m_waiting.size(); }

private:
    struct Known {
        qint64 size, modified, changed, inode;
    };
    static bool upToDate(const Known& known, const FolderFile& file);
    Learned read(const FolderFile& file) const;

    QString m_folder;
    QList<FolderFile> m_waiting;
    QStringList m_removed;
    qint64 m_inFolder = 0;
};

} // namespace tova
