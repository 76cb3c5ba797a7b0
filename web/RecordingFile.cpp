#include "RecordingFile.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tova {

std::optional<OpenRecording> openRecording(const QString& folder, const QByteArray& name) {
    if (name.isEmpty() || name.contains('/') || name.contains('\0') || name.startsWith('.') ||
        !name.toLower().endsWith(".wav"))
        return std::nullopt;
    const QByteArray path = QFile::encodeName(folder) + '/' + name;
    // O_NONBLOCK: a FIFO under a recording's name must not hold the request.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat status {};
    // Where the name has led, read from what was opened, so that no swap after a check counts.
    const QString opened = QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(fd)).symLinkTarget();
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        QFileInfo(opened).path() != QFileInfo(folder).canonicalFilePath()) {
        ::close(fd);
        return std::nullopt;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return OpenRecording{fd, qint64(status.st_size)};
}

std::optional<ByteRange> byteRange(const QByteArray& header, qint64 size) {
    if (!header.startsWith("bytes=")) return std::nullopt;
    const QByteArray bounds = header.mid(6).trimmed();
    const qsizetype dash = bounds.indexOf('-');
    if (dash < 0 || bounds.indexOf('-', dash + 1) >= 0) return std::nullopt;
    const QByteArray from = bounds.left(dash).trimmed(), to = bounds.mid(dash + 1).trimmed();
    const auto number = [](const QByteArray& digits) -> std::optional<qint64> {
        bool ok = false;
        const qint64 value = digits.toLongLong(&ok);
        if (!ok || digits.isEmpty() || digits.front() < '0' || digits.front() > '9')
            return std::nullopt;
        return value;
    };
    if (from.isEmpty()) {
        const auto suffix = number(to);
        if (!suffix || *suffix == 0 || size == 0) return std::nullopt;
        const qint64 length = std::min(*suffix, size);
        return ByteRange{size - length, length};
    }
    const auto first = number(from);
    const auto last = to.isEmpty() ? std::optional<qint64>(size - 1) : number(to);
    if (!first || !last || *first > *last || *first >= size) return std::nullopt;
    return ByteRange{*first, std::min(*last, size - 1) - *first + 1};
}

} // namespace tova
