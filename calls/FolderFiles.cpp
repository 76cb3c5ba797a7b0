#include "FolderFiles.h"

#include "FileNames.h"

#include <dirent.h>
#include <sys/stat.h>

namespace tova {

namespace {

qint64 nanoseconds(const struct timespec& time) {
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FolderFile fromStatus(const QString& name, const struct stat& status) {
    return {name, qint64(status.st_size), nanoseconds(status.st_mtim), nanoseconds(status.st_ctim),
            qint64(status.st_ino)};
}

} // namespace

std::vector<FolderFile> folderFiles(const QString& folder, bool withStatus) {
    std::vector<FolderFile> files;
    DIR* dir = opendir(fileNameBytes(folder).constData());
    if (!dir) return files;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        struct stat status {};
        // A link, or a filesystem that does not tell the type, takes a look at what it names.
        const bool look = withStatus || (entry->d_type != DT_REG && entry->d_type != DT_DIR);
        if (look && fstatat(dirfd(dir), entry->d_name, &status, 0) != 0) continue;
        if (look ? !S_ISREG(status.st_mode) : entry->d_type != DT_REG) continue;
        files.push_back(fromStatus(fileNameFromBytes(QByteArray(entry->d_name)), status));
    }
    closedir(dir);
    return files;
}

std::optional<FolderFile> folderFile(const QString& folder, const QString& name) {
    struct stat status {};
    if (name.isEmpty() || name.startsWith(u'.') || name.contains(u'/') ||
        ::stat(fileNameBytes(folder + u'/' + name).constData(), &status) != 0 ||
        !S_ISREG(status.st_mode))
        return std::nullopt;
    return fromStatus(name, status);
}

} // namespace tova
