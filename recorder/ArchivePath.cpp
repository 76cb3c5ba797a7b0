#include "ArchivePath.h"

namespace tova {

QString archivePath(const QString& recordingsFolder, const QString& dateText,
                    const QString& timeText, int copy) {
    QString date = dateText;
    date.replace(u'/', u'-').replace(u'\\', u'-');
    QString time = timeText;
    time.remove(u':');
    const QString suffix = copy > 1 ? u'_' + QString::number(copy) : QString();
    return recordingsFolder + u'/' + date + time + suffix + QStringLiteral(".wav");
}

} // namespace tova
