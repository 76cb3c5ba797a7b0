#include "WavContent.h"

#include "CallTags.h"
#include "RegionalClock.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <QtEndian>

#include <sndfile.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tova {

namespace {

constexpr qint64 kCopyFrames = 8192;
constexpr qint64 kSavePiece = 1 << 20;
constexpr int kMaxChannels = 64;
constexpr int kMaxRate = 1'000'000;

// The working file keeps the opened file's encoding where libsndfile can rewrite it in place;
// the compressed ones (ADPCM, GSM) become 16-bit PCM.
int spillEncoding(int subtype) {
    switch (subtype) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
        return subtype;
    case SF_FORMAT_PCM_S8:
        return SF_FORMAT_PCM_U8; // WAV keeps 8-bit samples unsigned
    default:
        return SF_FORMAT_PCM_16;
    }
}

bool isFloating(int subtype) {
    return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
}

// Where the chunk id starts in a RIFF WAVE file, with its length; -1 when there is none.
// The walk stops at the data chunk, whatever length its header claims.
qint64 findChunk(QFile& file, const char* id, quint32& length) {
    const qint64 size = file.size();
    char chunk[12];
    if (!file.seek(0) || file.read(chunk, 12) != 12 || std::memcmp(chunk, "RIFF", 4) != 0 ||
        std::memcmp(chunk + 8, "WAVE", 4) != 0)
        return -1;
    qint64 at = 12;
    while (at + 8 <= size && file.seek(at) && file.read(chunk, 8) == 8) {
        length = qFromLittleEndian<quint32>(chunk + 4);
        if (std::memcmp(chunk, id, 4) == 0) return at;
        if (std::memcmp(chunk, "data", 4) == 0) return -1;
        at += 8 + qint64(length) + (length & 1);
    }
    return -1;
}

// libsndfile quietly shortens a data chunk that runs past the end of the file; the user
// should hear what is there, but also learn that the file was cut off.
bool claimsMoreThanHeld(const QString& path) {
    QFile file(path);
    quint32 length = 0;
    const qint64 at = file.open(QIODevice::ReadOnly) ? findChunk(file, "data", length) : -1;
    // A streaming writer that never came back to fill in the length leaves all ones.
    return at >= 0 && length != 0xFFFFFFFFu && length > file.size() - at - 8;
}

// Copies every byte of the file fd into out, through the save writer.
bool copyFile(int fd, QIODevice& out) {
    SaveWriter& writer = SaveWriterSeam::get();
    QByteArray piece(kSavePiece, Qt::Uninitialized);
    for (qint64 offset = 0;;) {
        const ssize_t got = ::pread(fd, piece.data(), size_t(piece.size()), offset);
        if (got <= 0) return got == 0;
        if (writer.write(out, QByteArrayView(piece.constData(), got), offset) != got) return false;
        offset += got;
    }
}

// Creates the folder and its parent when missing, the user's alone; an existing folder must
// be the user's own, and is closed to others.
bool makePrivateFolder(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    ::mkdir(QFile::encodeName(QFileInfo(folder).absolutePath()).constData(), 0700);
    ::mkdir(path.constData(), 0700);
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::geteuid())
        return false;
    return (status.st_mode & 077) == 0 || ::chmod(path.constData(), 0700) == 0;
}

// A new file of a unique name in folder, readable by the user alone, never through a link,
// locked for as long as it is open: the next start stores only files nobody holds.
int createWorkingFile(const QString& folder, QString& path) {
    QByteArray name = QFile::encodeName(folder) + "/tova-XXXXXX.wav";
    const int fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
    if (fd < 0) return -1;
    ::flock(fd, LOCK_EX);
    path = QFile::decodeName(name);
    return fd;
}

template <class Sample, class Read, class Write>
qint64 copyFrames(SNDFILE* from, SNDFILE* to, int channels, Read read, Write write) {
    std::vector<Sample> block(kCopyFrames * channels);
    qint64 total = 0;
    for (;;) {
        const sf_count_t got = read(from, block.data(), kCopyFrames);
        if (got <= 0) return total;
        if (write(to, block.data(), got) != got) return -1;
        total += got;
    }
}

} // namespace

int moveWithoutReplacing(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    const int renamed =
        ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE);
    if (renamed != 0) {
        if (errno != EINVAL && errno != ENOSYS) return errno;
        // A filesystem that cannot refuse in a rename refuses a hard link just as well.
        if (::link(source.constData(), target.constData()) != 0) return errno;
        ::unlink(source.constData());
    }
    const int folder = ::open(QFile::encodeName(QFileInfo(to).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return 0;
}

qint64 repairWorkingFile(int fd) {
    QFile file;
    if (!file.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::DontCloseHandle))
        return -1;
    quint32 length = 0;
    const qint64 format = findChunk(file, "fmt ", length);
    char align[2];
    if (format < 0 || length < 16 || !file.seek(format + 8 + 12) || file.read(align, 2) != 2)
        return -1;
    const qint64 frameBytes = qFromLittleEndian<quint16>(align);
    const qint64 data = findChunk(file, "data", length);
    if (data < 0 || frameBytes == 0) return -1;
    const qint64 frames =
        qMin<qint64>((file.size() - data - 8) / frameBytes, 0x7FFFFFFF / frameBytes);
    const qint64 end = data + 8 + frames * frameBytes;
    char riff[4], chunk[4];
    qToLittleEndian<quint32>(quint32(end - 8), riff);
    qToLittleEndian<quint32>(quint32(frames * frameBytes), chunk);
    const bool written = file.resize(end) && file.seek(4) && file.write(riff, 4) == 4 &&
                         file.seek(data + 4) && file.write(chunk, 4) == 4;
    return written && ::fsync(fd) == 0 ? frames : -1;
}

qint64 SaveWriter::write(QIODevice& file, QByteArrayView piece, qint64) {
    return file.write(piece.data(), piece.size());
}

WavContent::WavContent(const QString& folder, bool recording, int sampleRate, int channels,
                       int format)
    : m_folder(folder)
    , m_recording(recording)
    , m_sampleRate(sampleRate)
    , m_channels(channels)
    , m_format(format) {}

WavContent::~WavContent() {
    discard();
}

void WavContent::release() {
    if (m_sound) sf_close(m_sound);
    restoreTags();
    if (m_fd >= 0) ::close(m_fd);
    m_sound = nullptr;
    m_fd = -1;
}

void WavContent::discard() {
    // Removed while still locked, so that no other copy of the program takes it meanwhile.
    if (!m_path.isEmpty()) ::unlink(QFile::encodeName(m_path).constData());
    m_path.clear();
    release();
}

bool WavContent::openWorkingFile() {
    if (m_recording && !makePrivateFolder(m_folder)) return false;
    QString path;
    const int fd = createWorkingFile(m_folder, path);
    if (fd < 0) return false;
    // Content that has become a stored file goes on in a copy: the stored file stays as stored.
    bool copied = true;
    if (m_fd >= 0) {
        QFile copy;
        copied = copy.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                           QFileDevice::DontCloseHandle) &&
                 copyFile(m_fd, copy) && ::lseek(fd, 0, SEEK_SET) == 0;
    }
    SF_INFO info{};
    if (m_fd < 0) {
        info.samplerate = m_sampleRate;
        info.channels = m_channels;
        info.format = m_format;
    }
    if (copied && m_recording && m_fd < 0) copied = writeTaggedHeader(fd, info);
    SNDFILE* sound = copied && hideTags(fd) ? sf_open_fd(fd, SFM_RDWR, &info, SF_FALSE) : nullptr;
    if (!sound) {
        ::unlink(QFile::encodeName(path).constData());
        ::close(fd);
        return false;
    }

    release();
    m_sound = sound;
    m_fd = fd;
    m_path = path;
    restoreTags();
    // Floating samples run from -1 to 1; the sound system's 16-bit samples are scaled to fit.
    if (isFloating(m_format & SF_FORMAT_SUBMASK)) {
        sf_command(m_sound, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
        sf_command(m_sound, SFC_SET_SCALE_INT_FLOAT_WRITE, nullptr, SF_TRUE);
    }
    return true;
}

std::unique_ptr<WavContent> WavContent::createEmpty(const QString& folder, const CallInfo& call) {
    std::unique_ptr<WavContent> content(
        new WavContent(folder, true, kNewRate, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    content->m_call = call;
    return content;
}

std::unique_ptr<WavContent> WavContent::load(const QString& path, ContentFault& fault) {
    if (!QFileInfo(path).isFile()) {
        fault = ContentFault::NotAFile;
        return nullptr;
    }
    SF_INFO info{};
    SNDFILE* source = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!source) {
        fault = ContentFault::NotAudio;
        return nullptr;
    }
    const auto closeSource = qScopeGuard([source] { sf_close(source); });
    if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate < 1 ||
        info.samplerate > kMaxRate) {
        fault = ContentFault::NotAudio;
        return nullptr;
    }
    const int encoding = spillEncoding(info.format & SF_FORMAT_SUBMASK);
    std::unique_ptr<WavContent> content(new WavContent(QDir::tempPath(), false, info.samplerate,
                                                       info.channels, SF_FORMAT_WAV | encoding));
    if (!content->openWorkingFile()) {
        fault = ContentFault::SpillFailed;
        return nullptr;
    }
    // Integers carry every PCM width losslessly; floating content stays floating.
    const qint64 copied =
        isFloating(encoding)
            ? copyFrames<double>(source, content->m_sound, info.channels, sf_readf_double,
                                 sf_writef_double)
            : copyFrames<int>(source, content->m_sound, info.channels, sf_readf_int, sf_writef_int);
    if (copied < 0) {
        fault = ContentFault::SpillFailed;
        return nullptr;
    }
    content->m_frames = copied;
    fault = claimsMoreThanHeld(path) ? ContentFault::Truncated : ContentFault::None;
    return content;
}

qint64 WavContent::read(qint64 frame, qint16* pcm, qint64 count) {
    count = qMin(count, m_frames - frame);
    if (count <= 0 || !m_sound || sf_seek(m_sound, frame, SEEK_SET) < 0) return 0;
    return qMax<sf_count_t>(0, sf_readf_short(m_sound, pcm, count));
}

// Tags go in the header, ahead of the audio, where a recording cut off by a crash keeps them.
bool WavContent::writeTaggedHeader(int fd, SF_INFO& info) {
    SNDFILE* header = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (!header) return false;
    CallInfo call = m_call;
    if (!call.start.isValid()) call.start = ClockSeam::get().now();
    writeCallTags(header, call);
    sf_command(header, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    const bool written = sf_close(header) == 0 && ::lseek(fd, 0, SEEK_SET) == 0;
    info = SF_INFO{};
    return written;
}

// libsndfile opens no file for writing that has tags ahead of its audio, and writes a "PAD "
// chunk of the same size where they stood whenever it rewrites the header. So it is shown that
// chunk, and the tags are put back after every rewrite.
bool WavContent::hideTags(int fd) {
    QFile file;
    quint32 length = 0;
    const qint64 at = file.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered,
                                QFileDevice::DontCloseHandle)
                          ? findChunk(file, "LIST", length)
                          : -1;
    m_tagsAt = at;
    m_tags.clear();
    if (at < 0) return true;
    m_tags = file.seek(at) ? file.read(8 + length) : QByteArray();
    return m_tags.size() == 8 + length && file.seek(at) && file.write("PAD ", 4) == 4 &&
           ::lseek(fd, 0, SEEK_SET) == 0;
}

void WavContent::updateHeader() {
    sf_command(m_sound, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    restoreTags();
}

void WavContent::restoreTags() {
    if (m_fd >= 0 && m_tagsAt >= 0 && !m_tags.isEmpty())
        ::pwrite(m_fd, m_tags.constData(), size_t(m_tags.size()), m_tagsAt);
}

void WavContent::setEnding(const QString& ending) {
    const QByteArray from = m_call.ending.toUtf8(), to = ending.toUtf8();
    const qsizetype at = from.isEmpty() ? -1 : m_tags.indexOf(from);
    if (at < 0 || to.size() != from.size()) return;
    m_tags.replace(at, to.size(), to);
    m_call.ending = ending;
    restoreTags();
}

bool WavContent::prepareWrite() {
    return (m_sound && !m_path.isEmpty()) || openWorkingFile();
}

bool WavContent::write(qint64 frame, const qint16* pcm, qint64 count) {
    if (frame < 0 || frame > m_frames || !prepareWrite() || sf_seek(m_sound, frame, SEEK_SET) < 0)
        return false;
    const sf_count_t written = sf_writef_short(m_sound, pcm, count);
    m_frames = qMax(m_frames, frame + qMax<sf_count_t>(0, written));
    m_unsynced = true;
    return written == count;
}

void WavContent::sync() {
    if (!m_unsynced || m_fd < 0) return;
    // The header catches up here rather than at every write, which would rewrite it each time;
    // what a crash leaves between two syncs is mended at the next start.
    updateHeader();
    ::fdatasync(m_fd);
    m_unsynced = false;
}

ContentFault WavContent::save(const QString& path, bool store) {
    if (path.isEmpty() || !QFileInfo(path).absoluteDir().exists())
        return ContentFault::FolderMissing;
    if (m_fd < 0 && !openWorkingFile()) return ContentFault::SpillFailed;
    // libsndfile leaves the header alone once a write has failed (a full disk): the header is
    // then made to tell the audio on the disk here, as recovery would.
    updateHeader();
    if (repairWorkingFile(m_fd) < 0) return ContentFault::SpillFailed;
    m_unsynced = false;
    if (store && !m_path.isEmpty()) {
        const int moved = moveWithoutReplacing(m_path, path);
        if (moved == 0) {
            m_path.clear();
            return ContentFault::None;
        }
        if (moved == EEXIST) return ContentFault::NameTaken;
    }
    return saveCopy(path, store);
}

// The copy that a move cannot give: onto another filesystem, or of content already stored.
ContentFault WavContent::saveCopy(const QString& path, bool store) {
    if (!store) {
        // Writes beside the target and renames over it only once everything is on the disk.
        QSaveFile target(path);
        if (!target.open(QIODevice::WriteOnly)) return ContentFault::WriteFailed;
        if (!copyFile(m_fd, target)) {
            target.cancelWriting();
            return ContentFault::WriteFailed;
        }
        return target.commit() ? ContentFault::None : ContentFault::WriteFailed;
    }
    QTemporaryFile copy(QFileInfo(path).absolutePath() + QStringLiteral("/.tova-XXXXXX.wav"));
    if (!copy.open() || !copyFile(m_fd, copy) || !copy.flush() || ::fsync(copy.handle()) != 0)
        return ContentFault::WriteFailed;
    const int moved = moveWithoutReplacing(copy.fileName(), path);
    copy.setAutoRemove(moved != 0);
    return moved == 0        ? ContentFault::None
           : moved == EEXIST ? ContentFault::NameTaken
                             : ContentFault::WriteFailed;
}

} // namespace tova
