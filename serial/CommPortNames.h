#pragma once

#include <QString>

namespace tova {

// Where COMn lives on this system: the link "comN" in the port folder when there is one,
// otherwise /dev/ttyS<n-1>, as other compatibility layers number serial ports.
// The port folder is $TOVA_PORT_DIR, or ${XDG_CONFIG_HOME:-~/.config}/tova/ports.
QString commPortFolder();
QString commPortPath(int port);

} // namespace tova
