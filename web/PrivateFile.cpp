#include "PrivateFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tova {

bool writePrivateFile(const QString& path, const QByteArray& bytes, QString& error) {
    const QString folder = QFileInfo(path).path();
    // Each missing folder on the way private to the user.
    QStringList missing;
    for (QString part = folder; !QFileInfo::exists(part); part = QFileInfo(part).path())
        missing.prepend(part);
    for (const QString& part : missing)
        ::mkdir(QFile::encodeName(part).constData(), 0700);
    if (!QDir(folder).exists()) {
        error = QStringLiteral("不能建立文件夹 %1").arg(folder);
        return false;
    }
    const QByteArray temporary = QFile::encodeName(path + QStringLiteral(".new"));
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool written = fd >= 0 && ::fchmod(fd, 0600) == 0 &&
                   ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size() &&
                   ::fsync(fd) == 0;
    const int failure = errno;
    if (fd >= 0) written = ::close(fd) == 0 && written;
    if (written && ::rename(temporary.constData(), QFile::encodeName(path).constData()) == 0)
        return true;
    error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(failure)));
    ::unlink(temporary.constData());
    return false;
}

} // namespace tova
