#pragma once

#include <QString>

#include <vector>

namespace tova {

struct FolderFile {
    QString name;
    qint64 size = 0;
    qint64 modifiedMs = 0; // ms since the epoch
};

// The files of a folder as a file list shows them: no folders, no hidden files, links followed;
// in no particular order. Size and last change only when asked for. Read with readdir and
// fstatat: for a folder of 100,000 files QDir and QFileInfo take several times as long.
std::vector<FolderFile> folderFiles(const QString& folder, bool withStatus);

} // namespace tova
