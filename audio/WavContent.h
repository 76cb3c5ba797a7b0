#pragma once

#include "Seam.h"

#include <QByteArrayView>
#include <QString>
#include <QTemporaryFile>

#include <memory>

struct sf_private_tag;
class QIODevice;

namespace tova {

// Writes the pieces of a saved file. The real one writes straight through; tests put in one
// that fails as a full disk does.
class SaveWriter {
public:
    virtual ~SaveWriter() = default;
    // Writes piece at offset bytes into the file; returns what was written, less on failure.
    virtual qint64 write(QIODevice& file, QByteArrayView piece, qint64 offset);
};
using SaveWriterSeam = Seam<SaveWriter, SaveWriter>;

// Why opening or saving content failed.
enum class ContentFault {
    None,
    NotAFile,      // a folder, a device, a pipe
    NotAudio,      // nothing libsndfile reads, or nothing playable in it
    Truncated,     // opened, but the file holds less audio than its header says
    SpillFailed,   // the working file in the temporary folder cannot be made or written
    FolderMissing, // the folder of a save target does not exist
    WriteFailed,   // the save target cannot be written completely
};

// The audio of an open device, kept in a WAV file in the temporary folder whose header stays
// valid as it grows: memory does not grow with the length, and saving is a copy.
class WavContent {
public:
    static constexpr int kNewRate = 8000;

    ~WavContent();
    WavContent(const WavContent&) = delete;
    WavContent& operator=(const WavContent&) = delete;

    // A new empty recording: 8000 Hz mono 16-bit PCM.
    static std::unique_ptr<WavContent> createEmpty(ContentFault& fault);
    // Everything libsndfile reads from path. Truncated comes with content; other faults
    // without.
    static std::unique_ptr<WavContent> load(const QString& path, ContentFault& fault);

    int sampleRate() const;
    int channels() const;
    qint64 frames() const { return m_frames; }

    // Interleaved 16-bit frames from frame on; returns how many were read.
    qint64 read(qint64 frame, qint16* pcm, qint64 count);
    // Overwrites from frame on, growing the content past its end as needed.
    bool write(qint64 frame, const qint16* pcm, qint64 count);
    // Stores the content as a WAV file at path, all or nothing.
    ContentFault save(const QString& path);

private:
    WavContent() = default;
    bool openSpill(int sampleRate, int channels, int format);

    QTemporaryFile m_spill;
    sf_private_tag* m_sound = nullptr;
    int m_sampleRate = kNewRate;
    int m_channels = 1;
    qint64 m_frames = 0;
};

} // namespace tova
