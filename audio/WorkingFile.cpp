#include "WorkingFile.h"

#include <QFile>

#include <unistd.h>

namespace tova {

namespace {

const QByteArray kPrefix = "tova-";
const QByteArray kSuffix = ".wav";

QByteArray firstLine(const QByteArray& path) {
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readLine().trimmed() : QByteArray();
}

// As a file name can carry it.
QByteArray hostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    const QByteArray host = QByteArray(name).replace('/', '_');
    return host.isEmpty() ? QByteArray("_") : host;
}

QByteArray bootId() {
    return firstLine("/proc/sys/kernel/random/boot_id").left(8);
}

// The 22nd field of /proc/<pid>/stat, after a command name that may hold blanks and brackets.
QByteArray startTicks(const QByteArray& pid) {
    const QByteArray stat = firstLine("/proc/" + pid + "/stat");
    const qsizetype end = stat.lastIndexOf(')');
    return end < 0 ? QByteArray() : stat.mid(end + 2).split(' ').value(19);
}

QByteArray process(const QByteArray& pid) {
    return pid + '.' + startTicks(pid) + '.' + bootId();
}

} // namespace

QByteArray workingFileTemplate() {
    static const QByteArray name = kPrefix + hostName() + '-' +
                                   process(QByteArray::number(qint64(::getpid()))) + "-XXXXXX" +
                                   kSuffix;
    return name;
}

Writer writerOf(const QString& fileName) {
    const QByteArray name = fileName.toUtf8();
    if (!name.startsWith(kPrefix) || !name.endsWith(kSuffix)) return Writer::Unnamed;
    QByteArrayList parts =
        name.sliced(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size()).split('-');
    if (parts.size() < 3) return Writer::Unnamed;
    parts.removeLast(); // the random part
    const QByteArrayList writer = parts.takeLast().split('.');
    if (writer.size() != 3 || writer[0].toLongLong() <= 0) return Writer::Unnamed;
    if (parts.join('-') != hostName()) return Writer::OtherHost;
    return process(writer[0]) == writer.join('.') ? Writer::Running : Writer::Gone;
}

} // namespace tova
