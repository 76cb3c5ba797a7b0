#pragma once

#include <QString>

namespace tova {

// Caption of every message box that is given no caption of its own.
inline const QString kAppTitle = QStringLiteral("TOVA电话录音系统V1.0");

// The folder of the program file, without a trailing "/".
QString applicationFolder();

// Where every call is stored and the query window looks: "录音数据" beside the program where
// the program's folder can be written (a build tree, a portable copy); for a program installed
// under /usr or /opt, or one in a folder the user cannot write, $XDG_DATA_HOME/tova/录音数据,
// created with mode 0700 when first asked for.
QString recordingsFolder();

// The hidden folder inside the recordings folder that holds the calls being recorded: on the
// same filesystem, so that storing a call is a rename, and left behind by a crash for the next
// start to store.
QString workingFolder();

} // namespace tova
