#include "Recovery.h"

#include "AppInfo.h"
#include "ArchivePath.h"
#include "FileNames.h"
#include "JournalService.h"
#include "MessageBoxes.h"
#include "RegionalClock.h"
#include "Termination.h"
#include "WavContent.h"
#include "WorkingFile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tova {

namespace {

// A working file that a copy of the program has only just made holds nothing yet.
constexpr qint64 kBeingMadeSeconds = 60;

// Whether the working file fd has lost its writer: the one its name tells has ended on this
// host, and nobody holds the file's lock; or, for a name that tells no writer, the lock can be
// had. A file of another host is left to that host, which takes it at its next start: nothing
// here tells whether its writer runs, not even a lock, which each host may keep to itself.
bool writerGone(int fd, const QString& fileName) {
    switch (writerOf(fileName)) {
    case Writer::Gone:
        // A lock that cannot be had nor refused (ENOLCK: NFS without a lock daemon) tells nothing.
        return ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
    case Writer::Unnamed:
        return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    case Writer::Running:
    case Writer::OtherHost:
        break;
    }
    return false;
}

// Stores one working file whose writer is gone; returns its new name, or an empty text.
QString recover(const QString& path) {
    const QByteArray name = fileNameBytes(path);
    const int fd = ::open(name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat held {
    }, named{};
    // The name must still lead to the file opened here: another copy may have stored it.
    if (!writerGone(fd, QFileInfo(path).fileName()) || ::fstat(fd, &held) != 0 ||
        ::lstat(name.constData(), &named) != 0 || held.st_ino != named.st_ino ||
        held.st_dev != named.st_dev || !S_ISREG(held.st_mode))
        return {};
    const QDateTime lastWrite = QDateTime::fromSecsSinceEpoch(held.st_mtim.tv_sec);
    if (held.st_size == 0 && lastWrite.secsTo(QDateTime::currentDateTime()) < kBeingMadeSeconds)
        return {};
    if (repairWorkingFile(fd) <= 0) {
        ::unlink(name.constData());
        return {};
    }
    // Stored calls are the user's alone; and the repair must not move the moment the call was
    // cut off, which names it.
    const struct timespec times[2] = {{0, UTIME_OMIT}, held.st_mtim};
    ::fchmod(fd, 0600);
    ::futimens(fd, times);
    const RegionalClock& clock = ClockSeam::get();
    const QString date = clock.dateText(lastWrite.date());
    const QString time = clock.timeText(lastWrite.time());
    for (int copy = 1;; ++copy) {
        const QString target = archivePath(recordingsFolder(), date, time, copy);
        const int moved = moveWithoutReplacing(path, target);
        if (moved != EEXIST) return moved == 0 ? QFileInfo(target).fileName() : QString();
    }
}

} // namespace

bool recoverInterruptedCalls() {
    const QDir folder(workingFolder());
    QStringList recovered;
    for (const QString& name : folder.entryList({QStringLiteral("tova-*.wav")}, QDir::Files)) {
        const QString stored = recover(folder.filePath(name));
        if (stored.isEmpty()) continue;
        recovered << stored;
        JournalService::instance().linkRecovered(stored);
    }
    if (recovered.isEmpty()) return true;
    MsgBox(QStringLiteral(
               "上次程序没有正常结束。找回了 %1 个没有保存的通话录音，已存入录音文件夹：\n%2")
               .arg(recovered.size())
               .arg(recovered.join(u'\n')));
    return !terminationRequested();
}

} // namespace tova
