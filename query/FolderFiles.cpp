#include "FolderFiles.h"

#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

namespace tova {

std::vector<FolderFile> folderFiles(const QString& folder, bool withStatus) {
    std::vector<FolderFile> files;
    DIR* dir = opendir(QFile::encodeName(folder).constData());
    if (!dir) return files;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        struct stat status {};
        // A link, or a filesystem that does not tell the type, takes a look at what it names.
        const bool look = withStatus || (entry->d_type != DT_REG && entry->d_type != DT_DIR);
        if (look && fstatat(dirfd(dir), entry->d_name, &status, 0) != 0) continue;
        if (look ? !S_ISREG(status.st_mode) : entry->d_type != DT_REG) continue;
        files.push_back({QFile::decodeName(entry->d_name), qint64(status.st_size),
                         qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000});
    }
    closedir(dir);
    return files;
}

} // namespace tova
