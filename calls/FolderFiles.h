#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace tova {

struct FolderFile {
    QString name; // as fileNameFromBytes gives it
    qint64 size = 0;
    qint64 modifiedNs = 0; // since the epoch
    qint64 changedNs = 0;  // the inode's last change: a tag edit that keeps the modification time
    qint64 inode = 0;

    qint64 modifiedMs() const { return modifiedNs / 1000000; }
};

// The files of a folder as a file list shows them: no folders, no hidden files, links followed;
// in no particular order. Size, times and inode only when asked for. Read with readdir and
// fstatat: for a folder of 100,000 files QDir and QFileInfo take several times as long.
std::vector<FolderFile> folderFiles(const QString& folder, bool withStatus);
// One of those files with its status; nothing for a name the list would not show.
std::optional<FolderFile> folderFile(const QString& folder, const QString& name);

} // namespace tova
