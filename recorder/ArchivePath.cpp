#include "ArchivePath.h"

#include <QFileInfo>

namespace tova {

QString archivePath(const QString& recordingsFolder, const QString& dateText,
                    const QString& timeText) {
    QString date = dateText;
    date.replace(u'/', u'-').replace(u'\\', u'-');
    QString time = timeText;
    time.remove(u':');

    const QString stem = recordingsFolder + u'/' + date + time;
    const QString extension = QStringLiteral(".wav");
    QString path = stem + extension;
    for (int copy = 2; QFileInfo::exists(path); ++copy)
        path = stem + u'_' + QString::number(copy) + extension;
    return path;
}

} // namespace tova
