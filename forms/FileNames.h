#pragma once

#include <QByteArray>
#include <QString>

namespace tova {

// File names as the filesystem holds them: bytes. A name that is not UTF-8 (GBK bytes from a
// Windows PC, copied over a share or from a stick mounted without UTF-8) travels through the
// program as a QString with each byte above 0x7F as U+DC80 + (byte - 0x80), a lone surrogate
// that no UTF-8 name gives, so that it opens again byte for byte.
QString fileNameFromBytes(const QByteArray& bytes);
// The bytes for the filesystem: the inverse of fileNameFromBytes, and UTF-8 for any other text.
QByteArray fileNameBytes(const QString& name);
// What the user reads: the name itself, or for one that is not UTF-8 its bytes read as GB18030
// where they decode, with replacement characters where they do not.
QString displayFileName(const QString& name);

} // namespace tova
