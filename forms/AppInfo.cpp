#include "AppInfo.h"

#include <QCoreApplication>

namespace tova {

QString applicationFolder() { return QCoreApplication::applicationDirPath(); }

QString recordingsFolder() { return applicationFolder() + QStringLiteral("/录音数据"); }

QString workingFolder() { return recordingsFolder() + QStringLiteral("/.录音中"); }

} // namespace tova
