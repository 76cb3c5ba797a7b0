#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace tova {

// A recording opened for the browser; the descriptor is the caller's to close.
struct OpenRecording {
    int fd = -1;
    qint64 size = 0;
};

// The recording of that name (bytes as the filesystem holds them) in the folder, opened for
// reading. Nothing for a name with "/" or a NUL, a hidden or non-WAV name, anything but a
// regular file, and a link that leads out of the folder: only the folder's recordings are served.
std::optional<OpenRecording> openRecording(const QString& folder, const QByteArray& name);

// One range of bytes of a file: a Range header's "bytes=first-last", "bytes=first-" or
// "bytes=-suffix".
struct ByteRange {
    qint64 first = 0;
    qint64 length = 0;
};
// Nothing for a header that is no single byte range, or one that lies beyond the file's size.
std::optional<ByteRange> byteRange(const QByteArray& header, qint64 size);

} // namespace tova
