#pragma once

#include <QByteArray>
#include <QString>

namespace tova {

// A working file's name tells who writes it: tova-<host>-<pid>.<start>.<boot>-XXXXXX.wav, with
// the host's name, the process id, the process's start in clock ticks since boot and the first
// characters of the boot's id, so that a process id used again, or used again after a restart,
// is not taken for the writer. A lock alone cannot tell: where locks fail (NFS without a lock
// daemon) nobody gets one, and where two hosts share the folder with host-local locks, the other
// host gets the lock of a file that is still being recorded.
QByteArray workingFileTemplate();

enum class Writer {
    Running,   // this host's, and the process that made it runs
    Gone,      // this host's, and that process has ended
    OtherHost, // nothing here can tell whether its writer runs
    Unnamed,   // a name that tells no writer: an older copy's
};
Writer writerOf(const QString& fileName);

} // namespace tova
