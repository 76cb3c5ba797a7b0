#pragma once

#include <QString>
#include <QStringList>

namespace tova {

// The ports the modem is looked for on.
constexpr int kFirstComPort = 3;
constexpr int kLastComPort = 9;

// Where COMn lives on this system, re-read at every call so that a device plugged in later is
// found: the link "comN" in the port folder when there is one. COM3 to COM9 without a link get,
// in order, the USB serial devices (usbSerialDevices) that no link names; the rest
// <device folder>/ttyS<n-1>, as other compatibility layers number serial ports. No device is
// given to two COMs: a COM whose device is another's stands for nothing (an empty path).
// The device's path is resolved.
// The port folder is $TOVA_PORT_DIR, or ${XDG_CONFIG_HOME:-~/.config}/tova/ports; the device
// folder is $TOVA_DEV_DIR, or /dev.
QString commPortFolder();
QString deviceFolder();
QString commPortPath(int port);

// The USB serial devices, most modem-like first: CDC-ACM devices (ttyACM*), which is what USB
// modems are, then general USB-serial adapters (ttyUSB*), which may as well hold a UPS or a
// GPS. Within each kind, those with a stable name in serial/by-id in the order of that name,
// so that a modem keeps its COM across replugs, then the others by number. Resolved paths.
QStringList usbSerialDevices();

} // namespace tova
