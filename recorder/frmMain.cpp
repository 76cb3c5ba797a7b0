#include "frmMain.h"

namespace tova {

frmMain::frmMain() { setWindowTitle(QStringLiteral("录音机V1.1")); }

} // namespace tova
