#include "RecordingIndex.h"

#include "FolderFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

#include <algorithm>
#include <atomic>

namespace tova {

namespace {

// Bumped whenever the table changes, so that an older database is made again.
constexpr int kSchemaVersion = 1;
// Another copy of the program may be writing the same index.
constexpr int kBusyTimeoutMs = 2000;
constexpr qsizetype kDigestHexLength = 16;
const QString kInMemory = QStringLiteral(":memory:");

const QString kCreateTable = QStringLiteral(
    "CREATE TABLE recordings (name TEXT PRIMARY KEY, size INTEGER, modified INTEGER, "
    "number TEXT, caller TEXT, direction TEXT, start INTEGER, milliseconds INTEGER)");

QString nextConnectionName() {
    static std::atomic<int> count{0};
    return QStringLiteral("tova-recording-index-%1").arg(++count);
}

// In UTC: turning 100,000 moments into local time costs more than reading them.
QDateTime fromMs(const QVariant& value) {
    return value.isNull() ? QDateTime()
                          : QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

QVariant toMs(const QDateTime& time) {
    return time.isValid() ? QVariant(time.toMSecsSinceEpoch()) : QVariant();
}

// The index tells whose calls there were and when: it is made readable by the user only,
// before SQLite writes anything into it.
bool preparePrivateFile(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir(folder).exists() &&
        (!QDir().mkpath(folder) ||
         !QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)))
        return false;
    QFile file(path);
    return file.open(QIODevice::Append) &&
           file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

// Another copy of the program holds the database longer than we wait: not a broken one.
bool isBusy(const QSqlError& error) {
    return error.nativeErrorCode() == QLatin1String("5") ||
           error.nativeErrorCode() == QLatin1String("6"); // SQLITE_BUSY, SQLITE_LOCKED
}

} // namespace

QDateTime Recording::started() const {
    return tagged.call.start.isValid() ? tagged.call.start.toLocalTime()
                                       : QDateTime::fromMSecsSinceEpoch(modifiedMs);
}

RecordingIndex::RecordingIndex(const QString& folder)
    : RecordingIndex(folder, defaultPath(folder)) {}

RecordingIndex::RecordingIndex(const QString& folder, const QString& databasePath)
    : m_folder(folder)
    , m_databasePath(databasePath)
    , m_connection(nextConnectionName()) {
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    if (!openDatabase()) rebuildDatabase();
}

RecordingIndex::~RecordingIndex() {
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

QString RecordingIndex::defaultPath(const QString& folder) {
    const QByteArray digest =
        QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/tova/index-") + QString::fromLatin1(digest.left(kDigestHexLength)) +
           QStringLiteral(".sqlite");
}

bool RecordingIndex::openDatabase() {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (m_databasePath != kInMemory && !preparePrivateFile(m_databasePath)) return false;
    db.setDatabaseName(m_databasePath);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    QSqlQuery query(db);
    // Reading the version is the first read of the file: what is no database fails here.
    if (!db.open() || !query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return false;
    if (query.value(0).toInt() == kSchemaVersion) return true;
    return query.exec(QStringLiteral("DROP TABLE IF EXISTS recordings")) &&
           query.exec(kCreateTable) &&
           query.exec(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion));
}

// Starts over with an empty database; where none can be written, one in memory serves.
void RecordingIndex::rebuildDatabase() {
    QSqlDatabase::database(m_connection, false).close();
    if (m_databasePath != kInMemory) {
        for (const QString& suffix :
             {QString(), QStringLiteral("-journal"), QStringLiteral("-wal")})
            QFile::remove(m_databasePath + suffix);
        if (openDatabase()) return;
    }
    m_databasePath = kInMemory;
    openDatabase();
}

QHash<QString, Recording> RecordingIndex::storedRecordings() {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT name, size, modified, number, caller, direction, "
                                   "start, milliseconds FROM recordings"))) {
        if (!isBusy(query.lastError())) rebuildDatabase();
        return {};
    }
    QHash<QString, Recording> stored;
    while (query.next()) {
        Recording recording{query.value(0).toString(),
                            {{query.value(3).toString(), query.value(4).toString(),
                              query.value(5).toString(), fromMs(query.value(6))},
                             query.value(7).toLongLong()},
                            query.value(1).toLongLong(),
                            query.value(2).toLongLong()};
        stored.insert(recording.fileName, recording);
    }
    // A page that breaks off in the middle of the table.
    if (query.lastError().isValid()) {
        if (!isBusy(query.lastError())) rebuildDatabase();
        return {};
    }
    return stored;
}

void RecordingIndex::refresh() {
    QHash<QString, Recording> stored = storedRecordings();
    QList<Recording> changed;
    m_recordings.clear();
    m_recordings.reserve(stored.size());
    for (const FolderFile& file : folderFiles(m_folder, true)) {
        Recording recording = stored.take(file.name);
        if (recording.fileName.isEmpty() || recording.size != file.size ||
            recording.modifiedMs != file.modifiedMs) {
            recording = {file.name, readCallTags(m_folder + u'/' + file.name), file.size,
                         file.modifiedMs};
            changed.append(recording);
        }
        m_recordings.insert(recording.fileName, recording);
    }
    if (!changed.isEmpty() || !stored.isEmpty()) store(changed, stored.keys());
}

// Failures leave the database behind the folder, which the next refresh makes up for.
void RecordingIndex::store(const QList<Recording>& changed, const QStringList& removed) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction()) return;
    QSqlQuery remove(db);
    remove.prepare(QStringLiteral("DELETE FROM recordings WHERE name = ?"));
    for (const QString& name : removed) {
        remove.bindValue(0, name);
        remove.exec();
    }
    QSqlQuery insert(db);
    insert.prepare(
        QStringLiteral("INSERT OR REPLACE INTO recordings VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const Recording& recording : changed) {
        const CallInfo& call = recording.tagged.call;
        const QVariant values[] = {recording.fileName,
                                   recording.size,
                                   recording.modifiedMs,
                                   call.number,
                                   call.name,
                                   call.direction,
                                   toMs(call.start),
                                   recording.tagged.milliseconds};
        for (int i = 0; i < int(std::size(values)); ++i)
            insert.bindValue(i, values[i]);
        insert.exec();
    }
    db.commit();
}

const Recording* RecordingIndex::find(const QString& fileName) const {
    const auto found = m_recordings.constFind(fileName);
    return found == m_recordings.cend() ? nullptr : &*found;
}

QList<const Recording*> RecordingIndex::recordings() const {
    QList<const Recording*> all;
    all.reserve(m_recordings.size());
    for (const Recording& recording : m_recordings)
        all.append(&recording);
    std::sort(all.begin(), all.end(), [](const Recording* a, const Recording* b) {
        return a->fileName.compare(b->fileName, Qt::CaseInsensitive) < 0;
    });
    return all;
}

} // namespace tova
