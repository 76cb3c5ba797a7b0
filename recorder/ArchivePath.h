#pragma once

#include <QString>

namespace tova {

// The path under which a recording is stored: the recordings folder, then the date text and
// the time text without its colons, then ".wav". A date separator "/" or "\" becomes "-",
// since a file name cannot hold it. Copies 2, 3 and so on, for when the name of a recording of
// the same second is taken, put "_2", "_3" before ".wav".
QString archivePath(const QString& recordingsFolder, const QString& dateText,
                    const QString& timeText, int copy = 1);

} // namespace tova
