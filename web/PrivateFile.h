#pragma once

#include <QByteArray>
#include <QString>

namespace tova {

// Writes bytes to path readable by the user only (0600), in a folder made 0700 where missing,
// through a temporary file that takes the name only once it is on the disk.
bool writePrivateFile(const QString& path, const QByteArray& bytes, QString& error);

} // namespace tova
