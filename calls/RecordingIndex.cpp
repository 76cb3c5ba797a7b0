#include "RecordingIndex.h"

#include "FileNames.h"

#include <QSqlQuery>
#include <QVariant>

namespace tova {

QString RecordingIndex::createTable() {
    return QStringLiteral("CREATE TABLE files (name BLOB PRIMARY KEY, size INTEGER, modified "
                          "INTEGER, changed INTEGER, inode INTEGER, audio INTEGER) WITHOUT ROWID");
}

RecordingIndex::RecordingIndex(const QString& folder)
    : m_folder(folder) {}

bool RecordingIndex::upToDate(const Known& known, const FolderFile& file) {
    return known.size == file.size && known.modified == file.modifiedNs &&
           known.changed == file.changedNs && known.inode == file.inode;
}

void RecordingIndex::scan(QSqlDatabase& db) {
    QHash<QString, Known> known;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (query.exec(QStringLiteral("SELECT name, size, modified, changed, inode FROM files")))
        while (query.next())
            known.insert(fileNameFromBytes(query.value(0).toByteArray()),
                         {query.value(1).toLongLong(), query.value(2).toLongLong(),
                          query.value(3).toLongLong(), query.value(4).toLongLong()});
    m_waiting.clear();
    const std::vector<FolderFile> files = folderFiles(m_folder, true);
    m_inFolder = qint64(files.size());
    for (const FolderFile& file : files) {
        const auto found = known.constFind(file.name);
        if (found == known.cend() || !upToDate(*found, file)) m_waiting.append(file);
        if (found != known.cend()) known.erase(found);
    }
    m_removed = known.keys();
}

RecordingIndex::Learned RecordingIndex::read(const FolderFile& file) const {
    return {file, readCallTags(m_folder + u'/' + file.name)};
}

QList<RecordingIndex::Learned> RecordingIndex::readSome(int count) {
    QList<Learned> learned;
    while (!m_waiting.isEmpty() && learned.size() < count)
        learned.append(read(m_waiting.takeLast()));
    return learned;
}

QStringList RecordingIndex::takeRemoved() {
    return std::exchange(m_removed, {});
}

std::optional<RecordingIndex::Learned> RecordingIndex::readIfChanged(QSqlDatabase& db,
                                                                     const QString& name) {
    const std::optional<FolderFile> file = folderFile(m_folder, name);
    if (!file) return std::nullopt;
    QSqlQuery query(db);
    query.prepare(
        QStringLiteral("SELECT size, modified, changed, inode FROM files WHERE name = ?"));
    query.addBindValue(fileNameBytes(name));
    if (query.exec() && query.next() &&
        upToDate({query.value(0).toLongLong(), query.value(1).toLongLong(),
                  query.value(2).toLongLong(), query.value(3).toLongLong()},
                 *file))
        return std::nullopt;
    return read(*file);
}

bool RecordingIndex::store(QSqlDatabase& db, const Learned& learned) {
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO files VALUES (?, ?, ?, ?, ?, ?)"));
    for (const QVariant& value :
         {QVariant(fileNameBytes(learned.file.name)), QVariant(learned.file.size),
          QVariant(learned.file.modifiedNs), QVariant(learned.file.changedNs),
          QVariant(learned.file.inode), QVariant(learned.isCall())})
        query.addBindValue(value);
    return query.exec();
}

bool RecordingIndex::forget(QSqlDatabase& db, const QString& name) {
    QSqlQuery query(db);
    query.prepare(QStringLiteral("DELETE FROM files WHERE name = ?"));
    query.addBindValue(fileNameBytes(name));
    return query.exec();
}

} // namespace tova
