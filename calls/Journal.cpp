#include "Journal.h"

#include "FileNames.h"
#include "RecordingIndex.h"
#include "RecordingSearch.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>
#include <QVariant>

#include <atomic>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tova {

namespace {

constexpr int kSchemaVersion = 1;
// Other connections write for milliseconds at a time; this waits on the journal's own thread,
// never a window's.
constexpr int kBusyTimeoutMs = 10000;
// A call that a crash cut off starts recording within this of its answer or dial.
constexpr qint64 kRecoveredWithinMs = 60000;
// Rings a copy of the program follows come every few seconds; older ones it no longer does.
constexpr qint64 kLeftRingingMs = 60000;

const QString kFolderName = QStringLiteral(".通话记录");
const QString kFileName = QStringLiteral("journal.sqlite");
const QString kMissedSeen = QStringLiteral("missedSeen");
const QString kPhonebookVersion = QStringLiteral("phonebook");

QStringList schema() {
    return {
        QStringLiteral(
            "CREATE TABLE calls (id INTEGER PRIMARY KEY AUTOINCREMENT, attempt TEXT UNIQUE, "
            "direction TEXT NOT NULL DEFAULT '', number TEXT NOT NULL DEFAULT '', "
            "caller TEXT NOT NULL DEFAULT '', contact TEXT NOT NULL DEFAULT '', "
            // start: ms since the epoch, or where floating the local time it says read as UTC;
            // sort: ms since the epoch either way, for the order.
            "start INTEGER, floating INTEGER NOT NULL DEFAULT 0, sort INTEGER, last_ring INTEGER, "
            "connected INTEGER, ended INTEGER, rings INTEGER NOT NULL DEFAULT 0, ms INTEGER, "
            "file BLOB UNIQUE, file_text TEXT NOT NULL DEFAULT '', note TEXT NOT NULL DEFAULT '', "
            "search TEXT NOT NULL DEFAULT '')"),
        QStringLiteral("CREATE INDEX calls_sort ON calls (sort)"),
        // The date filters, an absolute and a floating range at once.
        QStringLiteral("CREATE INDEX calls_start ON calls (floating, start)"),
        RecordingIndex::createTable(),
        QStringLiteral("CREATE TABLE contacts (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                       "name TEXT NOT NULL, grp TEXT NOT NULL DEFAULT '')"),
        QStringLiteral("CREATE TABLE numbers (contact INTEGER NOT NULL REFERENCES contacts (id) "
                       "ON DELETE CASCADE, number TEXT NOT NULL)"),
        QStringLiteral("CREATE INDEX numbers_contact ON numbers (contact)"),
        QStringLiteral("CREATE TABLE settings (key TEXT PRIMARY KEY, value) WITHOUT ROWID"),
        QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion),
    };
}

const QString kRowColumns = QStringLiteral(
    "id, start, floating, direction, number, caller, contact, ms, note, file, rings");

// SQLite's primary result codes.
enum SqliteCode { kBusy = 5, kLocked = 6, kCorrupt = 11, kNotADatabase = 26 };

int resultCode(const QSqlError& error) {
    return error.nativeErrorCode().toInt() & 0xff;
}

bool isBroken(const QSqlError& error) {
    const int code = resultCode(error);
    return code == kCorrupt || code == kNotADatabase;
}

QString nextConnectionName() {
    static std::atomic<int> count{0};
    return QStringLiteral("tova-journal-%1").arg(++count);
}

// Qt binds a null QString as NULL; a column without text holds ''.
QVariant text(const QString& value) {
    return value.isNull() ? QVariant(QString::fromLatin1("")) : QVariant(value);
}

QVariant msOrNull(const QDateTime& time) {
    return time.isValid() ? QVariant(time.toMSecsSinceEpoch()) : QVariant();
}

// The system's own clock: the clock seam belongs to the windows' thread, where tests fake it.
qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

// A local time without a zone is kept as the time it says, read as UTC.
bool isFloating(const QDateTime& time) {
    return time.timeSpec() == Qt::LocalTime;
}

qint64 storedStart(const QDateTime& time) {
    return isFloating(time) ? QDateTime(time.date(), time.time(), Qt::UTC).toMSecsSinceEpoch()
                            : time.toMSecsSinceEpoch();
}

QDateTime shownStart(qint64 stored, bool floating) {
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch(stored, Qt::UTC);
    return floating ? QDateTime(utc.date(), utc.time(), Qt::LocalTime) : utc.toLocalTime();
}

QString orderColumn(CallLogColumn column) {
    switch (column) {
    case CallLogColumn::Date:
    case CallLogColumn::Time:
        return QStringLiteral("sort");
    case CallLogColumn::Direction:
        return QStringLiteral("direction");
    case CallLogColumn::Number:
        return QStringLiteral("number");
    case CallLogColumn::Name:
        return QStringLiteral("CASE contact WHEN '' THEN caller ELSE contact END");
    case CallLogColumn::Length:
        return QStringLiteral("ms");
    case CallLogColumn::Note:
        return QStringLiteral("note");
    case CallLogColumn::File:
        return QStringLiteral("file_text");
    }
    return QStringLiteral("sort");
}

bool makePrivateFolder(const QString& path) {
    return QFileInfo(path).isDir() ||
           (QDir().mkpath(path) &&
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

} // namespace

QString newAttemptKey() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

struct Journal::Private {
    QString folder;
    QString path;
    QString connection = nextConnectionName();
    QSqlDatabase db;
    bool open = false;
    dev_t device = 0;
    ino_t inode = 0;
    qint64 dataVersion = -1;
    QString problem;
    Phonebook book;
    qint64 phonebookVersion = -1;
    RecordingIndex index;

    explicit Private(const QString& folder)
        : folder(folder)
        , path(Journal::path(folder))
        , index(folder) {}

    bool ready(bool create);
    bool openFile(bool create);
    void close();
    void moveAside(const struct stat& found);
    bool exec(const QString& statement);
    bool useWal();
    // Writes take the lock at once: a transaction that read first could not write after
    // another connection's commit.
    bool begin() {
        if (!exec(QStringLiteral("BEGIN IMMEDIATE"))) return false;
        // The contacts' names this write puts in are those of the phonebook as it now is.
        if (settingValue(kPhonebookVersion) != phonebookVersion) loadPhonebook();
        return true;
    }
    void phonebookChanged() {
        phonebookVersion = settingValue(kPhonebookVersion) + 1;
        QSqlQuery query(db);
        query.prepare(QStringLiteral("INSERT OR REPLACE INTO settings VALUES (?, ?)"));
        query.addBindValue(kPhonebookVersion);
        query.addBindValue(phonebookVersion);
        query.exec();
        loadPhonebook();
        refreshDerived(QStringLiteral("1"), {});
    }
    bool commit() { return exec(QStringLiteral("COMMIT")) || (rollback(), false); }
    void rollback() { exec(QStringLiteral("ROLLBACK")); }
    qint64 settingValue(const QString& key);
    void loadPhonebook();
    void refreshDerived(const QString& where, const QVariantList& values);
    CallLogRow row(const QSqlQuery& query) const;
    void apply(const RecordingIndex::Learned& learned);
    void dropFile(const QString& name);
    std::optional<CallLogRow> callWhere(const QString& where, const QVariant& value);
};

Journal::Journal(const QString& recordingsFolder)
    : d(std::make_unique<Private>(recordingsFolder)) {
    d->db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), d->connection);
    d->ready(false);
}

Journal::~Journal() {
    d->close();
    d->db = QSqlDatabase();
    QSqlDatabase::removeDatabase(d->connection);
}

QString Journal::path(const QString& recordingsFolder) {
    return recordingsFolder + u'/' + kFolderName + u'/' + kFileName;
}

QString Journal::recordingsFolder() const {
    return d->folder;
}

QString Journal::recordingPath(const CallLogRow& row) const {
    return row.fileName.isEmpty() ? QString() : d->folder + u'/' + row.fileName;
}

QString Journal::takeProblem() {
    return std::exchange(d->problem, {});
}

void Journal::Private::close() {
    db.close();
    open = false;
    dataVersion = -1;
}

// Open on the file now at the path: one removed or moved aside by another copy is followed.
bool Journal::Private::ready(bool create) {
    struct stat status {};
    const bool there = ::stat(fileNameBytes(path).constData(), &status) == 0;
    if (open && there && status.st_dev == device && status.st_ino == inode) return true;
    if (open) close();
    if (!there && !create) return false;
    return openFile(create);
}

bool Journal::Private::openFile(bool create) {
    // The recordings folder itself is made by whoever stores into it, never by a look.
    if (!QFileInfo(folder).isDir() || (create && !makePrivateFolder(QFileInfo(path).path())))
        return false;
    // Made private before SQLite writes into it; its -wal and -shm files take the same mode.
    if (!QFileInfo::exists(path)) {
        QFile file(path);
        if (!file.open(QIODevice::Append) ||
            !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner))
            return false;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat found {};
        ::stat(fileNameBytes(path).constData(), &found);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
        if (!db.open()) return false;
        QSqlQuery query(db);
        // The first read of the file: what is no database, or a damaged one, fails here.
        const bool read = query.exec(QStringLiteral("PRAGMA quick_check")) && query.next() &&
                          query.value(0).toString() == u"ok" &&
                          query.exec(QStringLiteral("PRAGMA user_version")) && query.next();
        if (!read) {
            const bool broken = !query.lastError().isValid() || isBroken(query.lastError());
            db.close();
            // A journal that another copy holds is left alone: it is not broken.
            if (!broken || attempt > 0) return false;
            moveAside(found);
            QFile file(path);
            if (!file.open(QIODevice::Append) ||
                !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner))
                return false;
            continue;
        }
        const int version = query.value(0).toInt();
        // An unfinished read holds a transaction, in which the journal mode cannot change.
        query.finish();
        // WAL lets the readers of other copies go on while one writes; FULL syncs the WAL at
        // every commit, so that a power cut loses nothing committed (NORMAL would sync only at
        // checkpoints, which a kill survives but a power cut need not).
        if (!useWal() || !exec(QStringLiteral("PRAGMA synchronous = FULL")) ||
            !exec(QStringLiteral("PRAGMA foreign_keys = ON")))
            return db.close(), false;
        if (version != kSchemaVersion) {
            if (!begin()) return db.close(), false;
            QSqlQuery again(db);
            // Another copy may have made the tables in the meantime.
            if (again.exec(QStringLiteral("PRAGMA user_version")) && again.next() &&
                again.value(0).toInt() == 0) {
                for (const QString& statement : schema())
                    if (!exec(statement)) return rollback(), db.close(), false;
            }
            if (!commit()) return db.close(), false;
        }
        struct stat status {};
        if (::stat(fileNameBytes(path).constData(), &status) != 0) return db.close(), false;
        device = status.st_dev;
        inode = status.st_ino;
        open = true;
        // Attempts that a crash left ringing end as missed.
        QSqlQuery stale(db);
        stale.prepare(QStringLiteral("UPDATE calls SET ended = last_ring + ? WHERE direction = ? "
                                     "AND ended IS NULL AND last_ring < ?"));
        stale.addBindValue(qint64(std::chrono::milliseconds(kRingsStopped).count()));
        stale.addBindValue(kMissed);
        stale.addBindValue(nowMs() - kLeftRingingMs);
        stale.exec();
        loadPhonebook();
        return true;
    }
    return false;
}

// Never deleted: what it still holds (missed calls, notes) may be worth getting back. Another
// connection, of this copy or another, may find the same file broken at the same moment: under
// the lock only the file found broken goes, once, and never the new journal another has made.
void Journal::Private::moveAside(const struct stat& found) {
    const int lock = ::open(fileNameBytes(path + QStringLiteral(".lock")).constData(),
                            O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    const auto unlock = qScopeGuard([lock] {
        if (lock >= 0) ::close(lock);
    });
    // Where locks fail (ENOLCK) the journal cannot work in WAL mode anyway.
    if (lock >= 0) ::flock(lock, LOCK_EX);
    struct stat now {};
    if (::stat(fileNameBytes(path).constData(), &now) != 0 || now.st_dev != found.st_dev ||
        now.st_ino != found.st_ino)
        return;
    const QString suffix = QStringLiteral(".broken-") +
                           QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + suffix;
    for (int copy = 2; QFileInfo::exists(target); ++copy)
        target = path + suffix + u'-' + QString::number(copy);
    if (!QFile::rename(path, target)) return;
    for (const QString& part : {QStringLiteral("-wal"), QStringLiteral("-shm")})
        if (QFileInfo::exists(path + part)) QFile::rename(path + part, target + part);
    // Made, private, before the lock is let go: a connection that comes after finds the new one.
    if (const int made =
            ::open(fileNameBytes(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        made >= 0)
        ::close(made);
    problem = QStringLiteral("通话记录数据库已损坏，已移到 %1 并新建了一个。录下的通话会从录音"
                             "文件中重新读入；旧数据库中的未接来电和备注没有读入。")
                  .arg(QDir::toNativeSeparators(target));
}

// Setting WAL takes the file to itself for a moment, and SQLite gives up at once rather than
// wait when another connection is in it: a new journal that two copies open together. The mode
// stays in the file, so this waits only then, as long as a write would.
bool Journal::Private::useWal() {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("PRAGMA journal_mode = WAL"))) return true;
        const int code = resultCode(query.lastError());
        if ((code != kBusy && code != kLocked) || waited.hasExpired(kBusyTimeoutMs)) return false;
        QThread::msleep(10);
    }
}

bool Journal::Private::exec(const QString& statement) {
    QSqlQuery query(db);
    return query.exec(statement);
}

qint64 Journal::Private::settingValue(const QString& key) {
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT value FROM settings WHERE key = ?"));
    query.addBindValue(key);
    return query.exec() && query.next() ? query.value(0).toLongLong() : 0;
}

void Journal::Private::loadPhonebook() {
    phonebookVersion = settingValue(kPhonebookVersion);
    QList<Contact> contacts;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT c.id, c.name, c.grp, n.number FROM contacts c LEFT "
                                   "JOIN numbers n ON n.contact = c.id ORDER BY c.id, n.rowid")))
        return;
    while (query.next()) {
        const qint64 id = query.value(0).toLongLong();
        if (contacts.isEmpty() || contacts.last().id != id)
            contacts.append({id, query.value(1).toString(), {}, query.value(2).toString()});
        if (!query.value(3).isNull()) contacts.last().numbers.append(query.value(3).toString());
    }
    book = Phonebook(contacts);
}

// The columns made from others: the contact's name for the number, and the search text.
void Journal::Private::refreshDerived(const QString& where, const QVariantList& values) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id, number, caller, note, file_text, contact, search "
                                 "FROM calls WHERE ") +
                  where);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec()) return;
    QSqlQuery update(db);
    update.prepare(QStringLiteral("UPDATE calls SET contact = ?, search = ? WHERE id = ?"));
    while (query.next()) {
        const QString contact = book.nameOf(query.value(1).toString());
        const QString search =
            searchText({query.value(1).toString(), query.value(2).toString(), contact,
                        query.value(3).toString(), query.value(4).toString()});
        if (contact == query.value(5).toString() && search == query.value(6).toString()) continue;
        update.addBindValue(text(contact));
        update.addBindValue(text(search));
        update.addBindValue(query.value(0));
        update.exec();
    }
}

CallLogRow Journal::Private::row(const QSqlQuery& query) const {
    CallLogRow row;
    row.id = query.value(0).toLongLong();
    row.start = shownStart(query.value(1).toLongLong(), query.value(2).toBool());
    row.direction = query.value(3).toString();
    row.number = query.value(4).toString();
    row.callerName = query.value(5).toString();
    row.contactName = query.value(6).toString();
    row.milliseconds = query.value(7).isNull() ? -1 : query.value(7).toLongLong();
    row.note = query.value(8).toString();
    if (!query.value(9).isNull()) row.fileName = fileNameFromBytes(query.value(9).toByteArray());
    row.rings = query.value(10).toInt();
    return row;
}

// A file read by the index: its call, made or brought up to date. A call that came from the
// journal (rings, a dial) keeps its direction and start; the file tells its length, and its
// tags the number and name where they have them.
void Journal::Private::apply(const RecordingIndex::Learned& learned) {
    if (!RecordingIndex::store(db, learned)) return;
    if (!learned.isCall()) return dropFile(learned.file.name);
    const CallInfo& call = learned.tagged.call;
    const QByteArray name = fileNameBytes(learned.file.name);
    const QDateTime start = call.start.isValid()
                                ? call.start
                                : QDateTime::fromMSecsSinceEpoch(learned.file.modifiedMs());
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT id FROM calls WHERE file = ?"));
    query.addBindValue(name);
    if (query.exec() && query.next()) {
        QSqlQuery update(db);
        update.prepare(QStringLiteral(
            "UPDATE calls SET ms = ?, number = CASE ? WHEN '' THEN number ELSE ? END, "
            "caller = CASE ? WHEN '' THEN caller ELSE ? END, direction = CASE WHEN attempt IS "
            "NULL THEN ? ELSE direction END, start = CASE WHEN attempt IS NULL THEN ? ELSE "
            "start END, floating = CASE WHEN attempt IS NULL THEN ? ELSE floating END, "
            "sort = CASE WHEN attempt IS NULL THEN ? ELSE sort END WHERE id = ?"));
        for (const QVariant& value :
             {QVariant(learned.tagged.milliseconds), text(call.number), text(call.number),
              text(call.name), text(call.name), text(call.direction), QVariant(storedStart(start)),
              QVariant(isFloating(start)), QVariant(start.toMSecsSinceEpoch()), query.value(0)})
            update.addBindValue(value);
        update.exec();
        return refreshDerived(QStringLiteral("id = ?"), {query.value(0)});
    }
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral(
        "INSERT INTO calls (direction, number, caller, start, floating, sort, ms, file, "
        "file_text) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant& value :
         {text(call.direction), text(call.number), text(call.name), QVariant(storedStart(start)),
          QVariant(isFloating(start)), QVariant(start.toMSecsSinceEpoch()),
          QVariant(learned.tagged.milliseconds), QVariant(name),
          text(displayFileName(learned.file.name))})
        insert.addBindValue(value);
    if (insert.exec()) refreshDerived(QStringLiteral("id = ?"), {insert.lastInsertId()});
}

// A recording that has gone: a call known only from its file goes with it; an attempt, or a
// call with a note, stays without its recording.
void Journal::Private::dropFile(const QString& name) {
    QSqlQuery query(db);
    query.prepare(QStringLiteral("DELETE FROM calls WHERE file = ? AND attempt IS NULL AND "
                                 "note = ''"));
    query.addBindValue(fileNameBytes(name));
    query.exec();
    query.prepare(QStringLiteral("UPDATE calls SET file = NULL, file_text = '', ms = NULL WHERE "
                                 "file = ?"));
    query.addBindValue(fileNameBytes(name));
    query.exec();
}

std::optional<CallLogRow> Journal::Private::callWhere(const QString& where, const QVariant& value) {
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT ") + kRowColumns + QStringLiteral(" FROM calls WHERE ") +
                  where);
    query.addBindValue(value);
    if (!query.exec() || !query.next()) return std::nullopt;
    return row(query);
}

CallLogPage Journal::callLog(const CallLogFilter& filter, const CallLogOrder& order, qint64 offset,
                             qint64 limit) {
    CallLogPage page;
    if (!d->ready(false)) return page;
    QStringList conditions;
    QVariantList values;
    if (!filter.text.isEmpty()) {
        conditions << QStringLiteral("instr(search, ?) > 0");
        values << searchKey(filter.text);
    }
    if (!filter.direction.isEmpty()) {
        conditions << QStringLiteral("direction = ?");
        values << filter.direction;
    }
    // The dates are the user's: an absolute start is compared in the local zone, a floating
    // one as the local time it says.
    if (filter.from.isValid() || filter.to.isValid()) {
        const QDate from = filter.from.isValid() ? filter.from : QDate(1, 1, 1);
        const QDate to = filter.to.isValid() ? filter.to.addDays(1) : QDate(9999, 1, 1);
        conditions << QStringLiteral("((floating = 0 AND start >= ? AND start < ?) OR "
                                     "(floating = 1 AND start >= ? AND start < ?))");
        values << from.startOfDay().toMSecsSinceEpoch() << to.startOfDay().toMSecsSinceEpoch()
               << from.startOfDay(Qt::UTC).toMSecsSinceEpoch()
               << to.startOfDay(Qt::UTC).toMSecsSinceEpoch();
    }
    if (filter.shortestMs > 0) {
        conditions << QStringLiteral("ms >= ?");
        values << filter.shortestMs;
    }
    const QString where =
        conditions.isEmpty() ? QString() : QStringLiteral(" WHERE ") + conditions.join(" AND ");
    QSqlQuery query(d->db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT count(*) FROM calls") + where);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec() || !query.next()) return page;
    page.total = query.value(0).toLongLong();
    const QString direction = order.descending ? QStringLiteral(" DESC") : QStringLiteral(" ASC");
    const QString column = orderColumn(order.column);
    // Walking the order's index to find ten calls among 100,000 reads them all one by one; a
    // search or a date range sorts what it found instead ("+" keeps the index out).
    const bool few = !filter.text.isEmpty() || filter.from.isValid() || filter.to.isValid();
    const QString by = (few && column == u"sort" ? QStringLiteral("+sort") : column) + direction +
                       (column == u"sort" ? QString() : QStringLiteral(", sort DESC"));
    query.prepare(QStringLiteral("SELECT ") + kRowColumns + QStringLiteral(" FROM calls") + where +
                  QStringLiteral(" ORDER BY ") + by + QStringLiteral(", id DESC LIMIT ? OFFSET ?"));
    for (const QVariant& value : values)
        query.addBindValue(value);
    query.addBindValue(limit < 0 ? -1 : limit);
    query.addBindValue(std::max<qint64>(offset, 0));
    if (!query.exec()) return page;
    while (query.next())
        page.rows.append(d->row(query));
    return page;
}

std::optional<CallLogRow> Journal::call(qint64 id) {
    if (!d->ready(false)) return std::nullopt;
    return d->callWhere(QStringLiteral("id = ?"), id);
}

std::optional<CallLogRow> Journal::recording(const QString& fileName) {
    if (!d->ready(true)) return std::nullopt;
    if (const auto learned = d->index.readIfChanged(d->db, fileName)) {
        d->begin();
        d->apply(*learned);
        d->commit();
    }
    return d->callWhere(QStringLiteral("file = ?"), fileNameBytes(fileName));
}

QStringList Journal::recordingsMatching(const QString& text) {
    QStringList names;
    if (!d->ready(false)) return names;
    QSqlQuery query(d->db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT file FROM calls WHERE file IS NOT NULL AND "
                                 "instr(search, ?) > 0"));
    query.addBindValue(searchKey(text));
    if (query.exec())
        while (query.next())
            names << fileNameFromBytes(query.value(0).toByteArray());
    return names;
}

bool Journal::setNote(qint64 id, const QString& note) {
    return setNotes({{id, note}}) == 1;
}

int Journal::setNotes(const QHash<qint64, QString>& notes) {
    if (!d->ready(true) || !d->begin()) return 0;
    QSqlQuery query(d->db);
    query.prepare(QStringLiteral("UPDATE calls SET note = ? WHERE id = ?"));
    int saved = 0;
    for (auto note = notes.cbegin(); note != notes.cend(); ++note) {
        query.addBindValue(text(note.value().trimmed()));
        query.addBindValue(note.key());
        if (!query.exec() || query.numRowsAffected() != 1) continue;
        ++saved;
        d->refreshDerived(QStringLiteral("id = ?"), {note.key()});
    }
    return d->commit() ? saved : 0;
}

LearnProgress Journal::learn(int maxFiles) {
    if (!d->ready(true)) return {};
    if (maxFiles == 0 || d->index.waiting() == 0) d->index.scan(d->db);
    const QList<RecordingIndex::Learned> learned = d->index.readSome(maxFiles);
    const QStringList removed = d->index.takeRemoved();
    if (!learned.isEmpty() || !removed.isEmpty()) {
        d->begin();
        for (const QString& name : removed) {
            RecordingIndex::forget(d->db, name);
            d->dropFile(name);
        }
        for (const RecordingIndex::Learned& one : learned)
            d->apply(one);
        d->commit();
    }
    return {d->index.filesInFolder() - d->index.waiting(), d->index.filesInFolder()};
}

void Journal::saveAttempt(const CallAttempt& attempt) {
    saveAttempts({attempt});
}

void Journal::saveAttempts(const QList<CallAttempt>& attempts) {
    // A missed call is kept even where no call has been stored yet.
    if (!makePrivateFolder(d->folder) || !d->ready(true) || !d->begin()) return;
    QSqlQuery query(d->db);
    query.prepare(QStringLiteral(
        "INSERT INTO calls (attempt, direction, number, caller, start, sort, last_ring, "
        "connected, ended, rings) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (attempt) "
        "DO UPDATE SET direction = excluded.direction, number = excluded.number, caller = "
        "excluded.caller, last_ring = excluded.last_ring, connected = excluded.connected, "
        "ended = excluded.ended, rings = excluded.rings"));
    for (const CallAttempt& attempt : attempts) {
        for (const QVariant& value :
             {QVariant(attempt.key), text(attempt.direction), text(attempt.number),
              text(attempt.name), msOrNull(attempt.start), msOrNull(attempt.start),
              msOrNull(attempt.lastRing), msOrNull(attempt.connected), msOrNull(attempt.ended),
              QVariant(attempt.rings)})
            query.addBindValue(value);
        if (query.exec()) d->refreshDerived(QStringLiteral("attempt = ?"), {attempt.key});
    }
    d->commit();
}

void Journal::linkRecording(const QString& attemptKey, const QString& fileName) {
    if (!d->ready(true) || attemptKey.isEmpty()) return;
    const QByteArray name = fileNameBytes(fileName);
    d->begin();
    // The index may have learned the file first, as a call of its own: it becomes the
    // attempt's, with what it has.
    QSqlQuery query(d->db);
    query.prepare(QStringLiteral("SELECT id, ms, note FROM calls WHERE file = ? AND attempt IS "
                                 "NOT ?"));
    query.addBindValue(name);
    query.addBindValue(attemptKey);
    QVariant ms;
    QString note;
    if (query.exec() && query.next()) {
        ms = query.value(1);
        note = query.value(2).toString();
        QSqlQuery remove(d->db);
        remove.prepare(QStringLiteral("DELETE FROM calls WHERE id = ?"));
        remove.addBindValue(query.value(0));
        remove.exec();
    }
    QSqlQuery link(d->db);
    link.prepare(QStringLiteral("UPDATE calls SET file = ?, file_text = ?, ms = coalesce(?, ms), "
                                "note = CASE note WHEN '' THEN ? ELSE note END WHERE attempt = ?"));
    for (const QVariant& value :
         {QVariant(name), text(displayFileName(fileName)), ms, text(note), QVariant(attemptKey)})
        link.addBindValue(value);
    if (link.exec()) d->refreshDerived(QStringLiteral("attempt = ?"), {attemptKey});
    d->commit();
}

void Journal::linkRecovered(const QString& fileName) {
    if (!d->ready(true)) return;
    const CallInfo call = readCallTags(d->folder + u'/' + fileName).call;
    if (!call.start.isValid()) return;
    const qint64 started = call.start.toMSecsSinceEpoch();
    QSqlQuery query(d->db);
    query.prepare(QStringLiteral(
        "SELECT attempt FROM calls WHERE attempt IS NOT NULL AND file IS NULL AND direction = ? "
        "AND number = ? AND connected BETWEEN ? AND ? ORDER BY abs(connected - ?) LIMIT 1"));
    for (const QVariant& value :
         {QVariant(call.direction), QVariant(call.number), QVariant(started - kRecoveredWithinMs),
          QVariant(started + kRecoveredWithinMs), QVariant(started)})
        query.addBindValue(value);
    if (query.exec() && query.next()) linkRecording(query.value(0).toString(), fileName);
}

int Journal::missedCount() {
    if (!d->ready(false)) return 0;
    QSqlQuery query(d->db);
    query.prepare(QStringLiteral("SELECT count(*) FROM calls WHERE direction = ? AND ended > "
                                 "coalesce((SELECT value FROM settings WHERE key = ?), 0)"));
    query.addBindValue(kMissed);
    query.addBindValue(kMissedSeen);
    return query.exec() && query.next() ? query.value(0).toInt() : 0;
}

void Journal::markMissedSeen() {
    if (!d->ready(true)) return;
    QSqlQuery query(d->db);
    // Ended times come from the clock of whichever copy wrote them: the latest one counts too.
    query.prepare(QStringLiteral(
        "INSERT OR REPLACE INTO settings VALUES (?, max(?, coalesce((SELECT max(ended) FROM "
        "calls WHERE direction = ?), 0)))"));
    query.addBindValue(kMissedSeen);
    query.addBindValue(nowMs());
    query.addBindValue(kMissed);
    query.exec();
}

QList<Contact> Journal::contacts() {
    if (!d->ready(false)) return {};
    d->loadPhonebook();
    return d->book.contacts();
}

qint64 Journal::saveContact(const Contact& contact) {
    if (!d->ready(true) || !d->begin()) return 0;
    QSqlQuery query(d->db);
    if (contact.id == 0) {
        query.prepare(QStringLiteral("INSERT INTO contacts (name, grp) VALUES (?, ?)"));
    } else {
        query.prepare(QStringLiteral("UPDATE contacts SET name = ?, grp = ? WHERE id = ?"));
    }
    query.addBindValue(text(contact.name.trimmed()));
    query.addBindValue(text(contact.group.trimmed()));
    if (contact.id != 0) query.addBindValue(contact.id);
    if (!query.exec()) return d->rollback(), 0;
    const qint64 id = contact.id != 0 ? contact.id : query.lastInsertId().toLongLong();
    query.prepare(QStringLiteral("DELETE FROM numbers WHERE contact = ?"));
    query.addBindValue(id);
    query.exec();
    query.prepare(QStringLiteral("INSERT INTO numbers VALUES (?, ?)"));
    for (const QString& number : contact.numbers) {
        if (number.trimmed().isEmpty()) continue;
        query.addBindValue(id);
        query.addBindValue(text(number.trimmed()));
        query.exec();
    }
    d->phonebookChanged();
    return d->commit() ? id : 0;
}

void Journal::removeContact(qint64 id) {
    if (!d->ready(true) || !d->begin()) return;
    QSqlQuery query(d->db);
    query.prepare(QStringLiteral("DELETE FROM contacts WHERE id = ?"));
    query.addBindValue(id);
    query.exec();
    d->phonebookChanged();
    d->commit();
}

int Journal::addContacts(const QList<Contact>& contacts) {
    if (!d->ready(true) || !d->begin()) return 0;
    int added = 0;
    QSqlQuery contact(d->db);
    contact.prepare(QStringLiteral("INSERT INTO contacts (name, grp) VALUES (?, ?)"));
    QSqlQuery number(d->db);
    number.prepare(QStringLiteral("INSERT INTO numbers VALUES (?, ?)"));
    for (const Contact& one : contacts) {
        contact.addBindValue(text(one.name.trimmed()));
        contact.addBindValue(text(one.group.trimmed()));
        if (!contact.exec()) continue;
        ++added;
        for (const QString& digits : one.numbers) {
            number.addBindValue(contact.lastInsertId());
            number.addBindValue(text(digits.trimmed()));
            number.exec();
        }
    }
    d->phonebookChanged();
    return d->commit() ? added : 0;
}

const Phonebook& Journal::phonebook() {
    if (d->ready(false) && d->settingValue(kPhonebookVersion) != d->phonebookVersion)
        d->loadPhonebook();
    return d->book;
}

bool Journal::changedElsewhere() {
    if (!d->ready(false)) return false;
    QSqlQuery query(d->db);
    if (!query.exec(QStringLiteral("PRAGMA data_version")) || !query.next()) return false;
    const qint64 version = query.value(0).toLongLong();
    const bool changed = d->dataVersion >= 0 && version != d->dataVersion;
    d->dataVersion = version;
    return changed;
}

} // namespace tova
