#include "CommPortNames.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace tova {

QString commPortFolder()
{
    const QString explicitFolder = qEnvironmentVariable("TOVA_PORT_DIR");
    if (!explicitFolder.isEmpty())
        return explicitFolder;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/tova/ports");
}

QString commPortPath(int port)
{
    const QFileInfo link(commPortFolder() + QStringLiteral("/com%1").arg(port));
    // A dangling link still names the user's choice: opening it then fails as a missing port.
    if (link.isSymLink())
        return link.symLinkTarget();
    if (link.exists())
        return link.absoluteFilePath();
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
}

} // namespace tova
