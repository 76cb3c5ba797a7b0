#include "AppInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tova {

namespace {
const QString kRecordings = QStringLiteral("录音数据");
} // namespace

QString applicationFolder() {
    return QCoreApplication::applicationDirPath();
}

QString recordingsFolder() {
    if (QFileInfo(applicationFolder()).isWritable())
        return applicationFolder() + u'/' + kRecordings;
    // Installed where the user cannot write: the user's data folder, private to the user.
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
