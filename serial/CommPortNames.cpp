#include "CommPortNames.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

#include <algorithm>
#include <tuple>

namespace tova {

namespace {

const QString kUsbKinds[] = {QStringLiteral("ttyACM"), QStringLiteral("ttyUSB")};

QString resolved(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

// The device the link "comN" leads to, or nothing when there is no such link.
QString linkedPath(int port)
{
    const QFileInfo link(commPortFolder() + QStringLiteral("/com%1").arg(port));
    // A dangling link still names the user's choice: opening it then fails as a missing port.
    if (link.isSymLink())
        return resolved(link.symLinkTarget());
    if (link.exists())
        return link.absoluteFilePath();
    return {};
}

// Device name (ttyACM0) to its stable udev name (usb-Maker_Modem_123-if00).
QHash<QString, QString> stableNames(const QDir& devices)
{
    QHash<QString, QString> names;
    const QDir byId(devices.filePath(QStringLiteral("serial/by-id")));
    for (const QFileInfo& id : byId.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        names.insert(QFileInfo(id.symLinkTarget()).fileName(), id.fileName());
    return names;
}

} // namespace

QString commPortFolder()
{
    const QString explicitFolder = qEnvironmentVariable("TOVA_PORT_DIR");
    if (!explicitFolder.isEmpty())
        return explicitFolder;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/tova/ports");
}

QString deviceFolder()
{
    const QString explicitFolder = qEnvironmentVariable("TOVA_DEV_DIR");
    return explicitFolder.isEmpty() ? QStringLiteral("/dev") : explicitFolder;
}

QStringList usbSerialDevices()
{
    const QDir devices(deviceFolder());
    const QHash<QString, QString> stable = stableNames(devices);
    QStringList paths;
    for (const QString& kind : kUsbKinds) {
        QStringList names = devices.entryList({kind + u'*'}, QDir::System);
        const auto number = [&](const QString& name) { return name.sliced(kind.size()).toInt(); };
        const auto order = [&](const QString& name) {
            return std::tuple(!stable.contains(name), stable.value(name), number(name));
        };
        std::sort(names.begin(), names.end(),
                  [&](const QString& a, const QString& b) { return order(a) < order(b); });
        for (const QString& name : names)
            paths << resolved(devices.filePath(name));
    }
    return paths;
}

QString commPortPath(int port)
{
    if (const QString link = linkedPath(port); !link.isEmpty())
        return link;
    QStringList taken;
    int unlinkedBefore = 0;
    for (int other = kFirstComPort; other <= kLastComPort; ++other) {
        const QString link = linkedPath(other);
        if (!link.isEmpty())
            taken << link;
        else if (other < port)
            ++unlinkedBefore;
    }
    QStringList usb = usbSerialDevices();
    usb.removeIf([&](const QString& device) { return taken.contains(device); });
    const bool modemPort = port >= kFirstComPort && port <= kLastComPort;
    if (modemPort && unlinkedBefore < usb.size())
        return usb.at(unlinkedBefore);
    const QString serial = resolved(deviceFolder() + QStringLiteral("/ttyS%1").arg(port - 1));
    return taken.contains(serial) ? QString() : serial;
}

} // namespace tova
