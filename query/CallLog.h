#pragma once

#include <QList>
#include <QString>

namespace tova {

struct Recording;

// The calls as a spreadsheet opens them: CSV in UTF-8 with a byte-order mark (without one a
// spreadsheet takes the Chinese for the local code page), one line per call with its date,
// time, direction, number, name, length in seconds and file name. Files without audio are left
// out. A field that a spreadsheet would run as a formula (one that begins with = + - @ tab or
// carriage return) starts with an apostrophe, which keeps it text.
// Written through a temporary file that replaces path only once it is complete; the reason of a
// failure goes to error.
bool saveCallLog(const QString& path, const QList<const Recording*>& recordings, QString& error);

} // namespace tova
