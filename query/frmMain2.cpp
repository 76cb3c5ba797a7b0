#include "frmMain2.h"

namespace tova {

frmMain2::frmMain2() { setWindowTitle(QStringLiteral("欢迎进入语音查询")); }

} // namespace tova
