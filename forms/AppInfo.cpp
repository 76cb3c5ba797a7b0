#include "AppInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tova {

namespace {
const QString kRecordings = QStringLiteral("录音数据");

// What a package or an install puts there is shared by every user and never changes: calls go
// to the user's own folder, even where root could write beside the program.
bool isInstalled(const QString& folder) {
    for (const QString& root : {QStringLiteral("/usr"), QStringLiteral("/opt")})
        if (folder == root || folder.startsWith(root + u'/')) return true;
    return false;
}
} // namespace

QString applicationFolder() {
    return QCoreApplication::applicationDirPath();
}

QString recordingsFolder() {
    const QString program = applicationFolder();
    if (!isInstalled(program) && QFileInfo(program).isWritable())
        return program + u'/' + kRecordings;
    // Installed, or where the user cannot write: the user's data folder, private to the user.
    QDir folder(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    folder.mkpath(QStringLiteral("."));
    for (const QString& name : {QStringLiteral("tova"), kRecordings}) {
        if (!folder.exists(name))
            folder.mkdir(name, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        folder.cd(name);
    }
    return folder.path();
}

QString workingFolder() { return recordingsFolder() + QStringLiteral("/.录音中"); }

} // namespace tova
