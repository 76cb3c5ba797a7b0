#pragma once

#include "CallInfo.h"
#include "Phonebook.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

namespace tova {

// A ring sequence that nobody answered.
inline const QString kMissed = QStringLiteral("未接");

// One call attempt as the call log shows it.
struct CallLogRow {
    qint64 id = 0;
    // Local time; a start tag without an offset from UTC is the local time it says.
    QDateTime start;
    QString direction;  // kIncoming, kOutgoing, kMissed, kLocalRecording; empty: a WAV without tags
    QString number;     // the caller's, or the number as dialled
    QString callerName; // as caller ID (or the file's tags) gave it
    QString contactName;      // the phonebook's name for the number; empty when it has none
    qint64 milliseconds = -1; // the recording's length; -1 without a recording
    QString note;
    // The recording's name in the recordings folder as fileNameFromBytes gives it (open it
    // through fileNameBytes); empty without a recording.
    QString fileName;
    int rings = 0;

    // The contact's name first, then the caller ID's name where it differs.
    QString name() const { return displayName(contactName, callerName); }
    bool hasRecording() const { return !fileName.isEmpty(); }
};

// Which calls the log lists; the conditions combine.
struct CallLogFilter {
    QString text;      // held by the number, a name, the note or the file name, ignoring case
    QString direction; // one of the directions; empty: every one
    QDate from;        // local dates, both ends included; a null date leaves that end open
    QDate to;
    qint64 shortestMs = 0; // above 0, only recordings at least this long
};

// The log's columns, left to right.
enum class CallLogColumn { Date, Time, Direction, Number, Name, Length, Note, File };
inline constexpr int kCallLogColumnCount = 8;

struct CallLogOrder {
    CallLogColumn column = CallLogColumn::Date;
    bool descending = true; // newest first
};

struct CallLogPage {
    QList<CallLogRow> rows;
    qint64 total = 0; // how many calls the filter lets through, on every page
};

// A ring sequence has ended when no RING has come for this long.
inline constexpr std::chrono::seconds kRingsStopped{8};

// A call attempt as the main window follows it; written whole each time it changes.
struct CallAttempt {
    QString key;       // unique, made when the attempt begins (newAttemptKey)
    QString direction; // kMissed while it rings unanswered, kIncoming once answered, kOutgoing
    QString number;    // caller ID's, or as dialled
    QString name;      // caller ID's
    QDateTime start;   // the first ring or caller ID report, or the dial
    QDateTime lastRing;
    QDateTime connected; // answered or dialled
    QDateTime ended;     // a missed call: 8 s after its last ring; invalid while it rings
    int rings = 0;
};
QString newAttemptKey();

// How far the journal has read the recordings folder.
struct LearnProgress {
    qint64 done = 0;  // files known and up to date
    qint64 total = 0; // files in the folder
    bool finished() const { return done >= total; }
};

// The journal of a recordings folder: every call attempt (rings, caller ID, missed, dialled,
// recorded), the notes, the phonebook and an index of what the folder's files say. An SQLite
// database in the folder's hidden folder .通话记录, so that a copy of the folder takes it along.
// Several connections share it (two copies of the program, the web server): each commit
// reaches the disk before it returns. A journal that is no database is moved aside and made
// anew, then filled again from the recordings' tags.
//
// Synchronous: every member may wait for the disk and for another connection's write. Use an
// object from one thread only, the one that made it, and never a window's thread.
class Journal {
public:
    explicit Journal(const QString& recordingsFolder);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // <recordings folder>/.通话记录/journal.sqlite
    static QString path(const QString& recordingsFolder);
    QString recordingsFolder() const;
    // The path of a call's recording, as fileNameBytes takes it; empty without one.
    QString recordingPath(const CallLogRow& row) const;

    // Once: what became of a broken journal (where it was moved), for the user; else empty.
    QString takeProblem();

    // One page of the calls the filter lets through, in that order; limit < 0: all of them.
    CallLogPage callLog(const CallLogFilter& filter, const CallLogOrder& order, qint64 offset,
                        qint64 limit);
    std::optional<CallLogRow> call(qint64 id);
    // The call of a file in the recordings folder, its tags read now when the index has not
    // yet got them. Nothing for a file without audio, or none of that name.
    std::optional<CallLogRow> recording(const QString& fileName);
    // The recordings whose call holds the text in its number, a name, the note or the file
    // name, ignoring case: the query window's search over what the index knows so far.
    QStringList recordingsMatching(const QString& text);
    // Saved at once; an empty note removes it. False when the call is not there.
    bool setNote(qint64 id, const QString& note);
    // Many at once, in one transaction (by call id); returns how many calls took theirs.
    int setNotes(const QHash<qint64, QString>& notes);

    // Reads at most maxFiles of the files the index does not hold or holds out of date (size,
    // change time, inode or modification time differ), drops the files that have gone, and
    // tells how far it has come. Call it again until finished(); the call log lists what is
    // known so far. maxFiles 0 only looks at the folder.
    LearnProgress learn(int maxFiles);

    void saveAttempt(const CallAttempt& attempt);
    // Many at once, in one transaction: an import of old calls, a benchmark's.
    void saveAttempts(const QList<CallAttempt>& attempts);
    // The recorder stored the attempt's call as fileName (in the recordings folder).
    void linkRecording(const QString& attemptKey, const QString& fileName);
    // A call that a crash cut off, stored at the next start: joined to the attempt it belongs
    // to by its tags (number, direction, start), when that attempt has no recording yet.
    void linkRecovered(const QString& fileName);
    // Missed calls ended since the call log was last opened (markMissedSeen), in any copy.
    int missedCount();
    void markMissedSeen();

    QList<Contact> contacts();
    // Adds (id 0) or replaces a contact; returns its id, 0 when it could not be written.
    qint64 saveContact(const Contact& contact);
    void removeContact(qint64 id);
    // Adds every one; returns how many were added.
    int addContacts(const QList<Contact>& contacts);
    const Phonebook& phonebook();

    // Whether another connection has committed a change since the last call.
    bool changedElsewhere();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace tova
