#pragma once

#include "CallInfo.h"
#include "Seam.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

struct sf_private_tag;
class QIODevice;

namespace tova {

struct SoundPlace;

// Writes the pieces of a saved copy. The real one writes straight through; tests put in one
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
    Damaged,       // a WAV file that libsndfile cannot read: cut off in its header, a broken chunk
    Truncated,     // opened, but the file holds less audio than its header says
    SpillFailed,   // the working file cannot be made or written
    FolderMissing, // the folder of a save target does not exist
    WriteFailed,   // the save target cannot be written completely
    NameTaken,     // the save target exists, and may not be replaced
};

// Told on the application's thread when a store that save() left to go on fails after all.
using LateStoreFailure = std::function<void(ContentFault)>;

// Gives the file at from the name to, unless something (a file, a folder, a link) has that
// name already: 0, EEXIST when the name is taken, or the errno of another failure. The move
// reaches the disk before this returns.
int moveWithoutReplacing(const QString& from, const QString& to);

// Makes the header of a working file that a crash left behind tell the audio that reached the
// disk, in whole frames, and puts it on the disk; returns how many frames it holds, or -1 when
// it is no WAV file.
qint64 repairWorkingFile(int fd);

// The audio of an open device. A file opened is read where it lies; what is recorded goes into
// a working file of its own in the working folder, whose header is brought up to date at every
// sync: memory does not grow with the length, and a crash leaves a WAV behind that
// repairWorkingFile() makes whole. The disk's slow work (the syncs, storing) runs on the disk
// thread, so a disk that stops answering holds up no caller.
class WavContent {
public:
    static constexpr int kNewRate = 8000;

    ~WavContent();
    WavContent(const WavContent&) = delete;
    WavContent& operator=(const WavContent&) = delete;

    // A new empty recording, 8000 Hz mono 16-bit PCM, whose working file is made in folder
    // (made private to the user) by the first write or save, tagged with call, whose start is
    // then. Only a crash leaves it there.
    static std::unique_ptr<WavContent> createEmpty(const QString& folder, const CallInfo& call);
    // What libsndfile reads at path, with its tags; recording over it first copies it into a
    // working file in folder. Truncated comes with content; other faults without.
    static std::unique_ptr<WavContent> load(const QString& path, const QString& folder,
                                            ContentFault& fault);

    int sampleRate() const { return m_sampleRate; }
    int channels() const { return m_channels; }
    qint64 frames() const { return m_frames; }

    // Interleaved 16-bit frames from frame on; returns how many were read.
    qint64 read(qint64 frame, qint16* pcm, qint64 count);
    // Makes sure the content has a working file of its own to write to.
    bool prepareWrite();
    // Overwrites from frame on, growing the content past its end as needed.
    bool write(qint64 frame, const qint16* pcm, qint64 count);
    // Brings the header up to what was written since the last call and sends it to the disk.
    void sync();
    // True while a sync has been on its way to the disk for limit or longer.
    bool syncStalled(std::chrono::milliseconds limit) const;
    // Writes the content as a WAV file at path, all or nothing. A store takes a path nothing
    // has yet (NameTaken otherwise): on the working file's filesystem the working file itself
    // moves there, and later writes go to a copy; when the disk does not answer in time the
    // move goes on after this has returned None, and late hears if it fails, the working file
    // then staying where it is. Otherwise a copy replaces what is at path.
    ContentFault save(const QString& path, bool store, const LateStoreFailure& late = {});
    // Puts how the call ended into its tags, in place of what they said so far: a text of the
    // same length in UTF-8 (kCallUnfinished, kHungUpHere, kHungUpThere), or nothing is changed.
    void setEnding(const QString& ending);
    // Drops the content's working file; the destructor does too.
    void discard();
    // Puts the content on the disk and lets its working file go without removing it, for the
    // next start to recover.
    void leaveForRecovery();

private:
    enum class Held { Nothing, Source, Working, Stored };

    WavContent(const QString& folder, int sampleRate, int channels, int format);
    bool openWorkingFile();
    bool writeTaggedHeader(int fd);
    void updateHeader();
    void restoreTags();
    void release(const QByteArray& unlinkFirst = {});
    bool reopen(int mode);
    ContentFault store(const QString& path, const LateStoreFailure& late);

    QString m_folder; // where this content's working files are made
    Held m_held = Held::Nothing;
    QString m_path; // the working file, while held
    int m_fd = -1;
    sf_private_tag* m_sound = nullptr;
    std::unique_ptr<SoundPlace> m_place; // where m_sound is in m_fd
    int m_sampleRate;
    int m_channels;
    int m_format; // of a working file
    CallInfo m_call;
    QByteArray m_tags;    // the tags chunk, as it stands in the working file's header
    qint64 m_tagsAt = -1; // where
    qint64 m_frames = 0;
    bool m_unsynced = false;
    // When the sync on its way to the disk was asked for, on the steady clock; 0: none is.
    std::shared_ptr<std::atomic<qint64>> m_syncAsked;
};

} // namespace tova
