#pragma once

#include <QString>

namespace tova {

// The path under which a recording is stored: the recordings folder, then the date text and
// the time text without its colons, then ".wav". A date separator "/" or "\" becomes "-",
// since a file name cannot hold it. When a recording of the same
// second is already there, "_2", "_3" and so on go before ".wav" so that none is overwritten.
QString archivePath(const QString& recordingsFolder, const QString& dateText,
                    const QString& timeText);

} // namespace tova
