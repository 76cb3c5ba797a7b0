#include "WavContent.h"

#include "CallTags.h"
#include "DiskThread.h"
#include "FileNames.h"
#include "RegionalClock.h"
#include "WorkingFile.h"

#include <QCoreApplication>
#include <QFile>
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

// Where libsndfile is in a file of ours. It reads and writes through kPlaceIo, at an offset of
// its own: it opens and closes no descriptor (sf_open_fd closes the one it is given when it
// cannot read the file, whatever it is told), and the disk thread may work on the same
// descriptor meanwhile.
struct SoundPlace {
    int fd;
    sf_count_t at = 0;
};

namespace {

using namespace std::chrono_literals;

constexpr qint64 kCopyFrames = 8192;
constexpr qint64 kSavePiece = 1 << 20;
constexpr qint64 kMaxTags = 1 << 20;
constexpr int kMaxChannels = 64;
constexpr int kMaxRate = 1'000'000;
// How long a store may keep its caller waiting on the disk; beyond that it goes on by itself.
constexpr std::chrono::milliseconds kStoreWait{1000};
// A sync out this long tells of a disk slow to answer: a store then keeps nobody waiting.
constexpr std::chrono::milliseconds kSlowDisk{500};
// How long dropping a working file waits for the disk to remove it.
constexpr std::chrono::milliseconds kDropWait{1000};
// A store's outcome while it runs, and once nobody waits for it any more.
constexpr int kStoring = -1;
constexpr int kLeftToRun = -2;

qint64 steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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

bool isWav(int fd) {
    char head[12];
    return ::pread(fd, head, 12, 0) == 12 && std::memcmp(head, "RIFF", 4) == 0 &&
           std::memcmp(head + 8, "WAVE", 4) == 0;
}

// Where the chunk id starts in a RIFF WAVE file, with its length; -1 when there is none.
// The walk stops at the data chunk, whatever length its header claims. It reads at given
// places only, since the disk thread may work on the same descriptor meanwhile.
qint64 findChunk(int fd, const char* id, quint32& length) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !isWav(fd)) return -1;
    char chunk[8];
    for (qint64 at = 12; at + 8 <= status.st_size && ::pread(fd, chunk, 8, at) == 8;
         at += 8 + qint64(length) + (length & 1)) {
        length = qFromLittleEndian<quint32>(chunk + 4);
        if (std::memcmp(chunk, id, 4) == 0) return at;
        if (std::memcmp(chunk, "data", 4) == 0) return -1;
    }
    return -1;
}

// libsndfile quietly shortens a data chunk that runs past the end of the file; the user
// should hear what is there, but also learn that the file was cut off.
bool claimsMoreThanHeld(int fd) {
    quint32 length = 0;
    const qint64 at = findChunk(fd, "data", length);
    struct stat status {};
    // A streaming writer that never came back to fill in the length leaves all ones.
    return at >= 0 && ::fstat(fd, &status) == 0 && length != 0xFFFFFFFFu &&
           length > status.st_size - at - 8;
}

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

bool isFolder(const QByteArray& path) {
    struct stat status {};
    return ::stat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

void syncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
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
    const QByteArray path = fileNameBytes(folder);
    ::mkdir(folderOf(path).constData(), 0700);
    ::mkdir(path.constData(), 0700);
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::geteuid())
        return false;
    return (status.st_mode & 077) == 0 || ::chmod(path.constData(), 0700) == 0;
}

// A new file of a unique name in folder that tells who writes it, readable by the user alone,
// never through a link, kept from programs started meanwhile, and locked while it is open
// where locks work: where they fail (ENOLCK on NFS without a lock daemon) the name tells.
int createWorkingFile(const QString& folder, QString& path) {
    QByteArray name = fileNameBytes(folder) + '/' + workingFileTemplate();
    const int fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
    if (fd < 0) return -1;
    ::flock(fd, LOCK_EX | LOCK_NB);
    path = fileNameFromBytes(name);
    return fd;
}

// libsndfile opens no file for writing that has tags ahead of its audio, and writes a "PAD "
// chunk of the same size where they stood whenever it rewrites the header. So it is shown that
// chunk, and the tags are put back after every rewrite.
bool hideTags(int fd, QByteArray& tags, qint64& at) {
    quint32 length = 0;
    at = findChunk(fd, "LIST", length);
    tags.clear();
    if (at < 0) return true;
    if (length > kMaxTags) return false;
    tags.resize(8 + qsizetype(length));
    return ::pread(fd, tags.data(), size_t(tags.size()), at) == tags.size() &&
           ::pwrite(fd, "PAD ", 4, at) == 4;
}

SoundPlace& placeOf(void* data) {
    return *static_cast<SoundPlace*>(data);
}

sf_count_t fileLength(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 ? status.st_size : -1;
}

SF_VIRTUAL_IO kPlaceIo{
    [](void* data) { return fileLength(placeOf(data).fd); },
    [](sf_count_t offset, int whence, void* data) -> sf_count_t {
        SoundPlace& place = placeOf(data);
        const sf_count_t from = whence == SEEK_SET   ? 0
                                : whence == SEEK_CUR ? place.at
                                                     : fileLength(place.fd);
        if (from < 0 || from + offset < 0) return -1;
        return place.at = from + offset;
    },
    [](void* to, sf_count_t count, void* data) -> sf_count_t {
        SoundPlace& place = placeOf(data);
        const ssize_t got = ::pread(place.fd, to, size_t(count), place.at);
        place.at += qMax<ssize_t>(0, got);
        return qMax<ssize_t>(0, got);
    },
    [](const void* from, sf_count_t count, void* data) -> sf_count_t {
        SoundPlace& place = placeOf(data);
        const ssize_t put = ::pwrite(place.fd, from, size_t(count), place.at);
        place.at += qMax<ssize_t>(0, put);
        return qMax<ssize_t>(0, put);
    },
    [](void* data) { return placeOf(data).at; },
};

// info says what to write in SFM_WRITE, and tells what was read otherwise.
SNDFILE* openSound(int fd, int mode, SF_INFO& info, std::unique_ptr<SoundPlace>& place) {
    auto made = std::make_unique<SoundPlace>(SoundPlace{fd});
    SNDFILE* sound = sf_open_virtual(&kPlaceIo, mode, &info, made.get());
    if (!sound) return nullptr;
    // Floating samples run from -1 to 1; the sound system's 16-bit samples are scaled to fit.
    if (isFloating(info.format & SF_FORMAT_SUBMASK)) {
        sf_command(sound, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
        sf_command(sound, SFC_SET_SCALE_INT_FLOAT_WRITE, nullptr, SF_TRUE);
    }
    place = std::move(made);
    return sound;
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

// A copy of the WAV file fd at path, written beside it and put in its place only once all of
// it is on the disk; a store takes only a name that nothing has.
ContentFault copyTo(int fd, const QString& path, bool store) {
    const QByteArray target = fileNameBytes(path);
    const QByteArray folder = folderOf(target);
    if (!isFolder(folder)) return ContentFault::FolderMissing;
    QByteArray name = folder + "/.tova-XXXXXX.wav";
    const int out = ::mkostemps(name.data(), 4, O_CLOEXEC);
    if (out < 0) return ContentFault::WriteFailed;
    QFile copy;
    const bool written = copy.open(out, QIODevice::WriteOnly | QIODevice::Unbuffered,
                                   QFileDevice::DontCloseHandle) &&
                         copyFile(fd, copy) && ::fsync(out) == 0;
    copy.close();
    ::close(out);
    int moved = EIO;
    if (written && store) {
        moved = moveWithoutReplacing(fileNameFromBytes(name), path);
    } else if (written) {
        moved = ::rename(name.constData(), target.constData()) == 0 ? 0 : errno;
        if (moved == 0) syncFolder(folder);
    }
    if (moved != 0) ::unlink(name.constData());
    return moved == 0        ? ContentFault::None
           : moved == EEXIST ? ContentFault::NameTaken
                             : ContentFault::WriteFailed;
}

// On the disk thread: the working file from, open as fd, stored at to.
ContentFault storeWorkingFile(int fd, const QString& from, const QString& to) {
    if (!isFolder(folderOf(fileNameBytes(to)))) return ContentFault::FolderMissing;
    // libsndfile leaves the header alone once a write has failed (a full disk): the header is
    // made to tell the audio on the disk here, as recovery would.
    if (repairWorkingFile(fd) < 0) return ContentFault::SpillFailed;
    const int moved = moveWithoutReplacing(from, to);
    if (moved == 0) return ContentFault::None;
    if (moved == EEXIST) return ContentFault::NameTaken;
    // Onto another filesystem: a copy, and the working file goes once the copy is stored.
    const ContentFault copied = copyTo(fd, to, true);
    if (copied == ContentFault::None) ::unlink(fileNameBytes(from).constData());
    return copied;
}

} // namespace

int moveWithoutReplacing(const QString& from, const QString& to) {
    const QByteArray source = fileNameBytes(from);
    const QByteArray target = fileNameBytes(to);
    const int renamed =
        ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE);
    if (renamed != 0) {
        if (errno != EINVAL && errno != ENOSYS) return errno;
        // A filesystem that cannot refuse in a rename refuses a hard link just as well.
        if (::link(source.constData(), target.constData()) != 0) return errno;
        ::unlink(source.constData());
        syncFolder(folderOf(source));
    }
    syncFolder(folderOf(target));
    return 0;
}

qint64 repairWorkingFile(int fd) {
    quint32 length = 0;
    const qint64 format = findChunk(fd, "fmt ", length);
    char align[2];
    if (format < 0 || length < 16 || ::pread(fd, align, 2, format + 8 + 12) != 2) return -1;
    const qint64 frameBytes = qFromLittleEndian<quint16>(align);
    const qint64 data = findChunk(fd, "data", length);
    struct stat status {};
    if (data < 0 || frameBytes == 0 || ::fstat(fd, &status) != 0) return -1;
    const qint64 frames =
        qMin<qint64>((status.st_size - data - 8) / frameBytes, 0x7FFFFFFF / frameBytes);
    const qint64 end = data + 8 + frames * frameBytes;
    char riff[4], chunk[4];
    qToLittleEndian<quint32>(quint32(end - 8), riff);
    qToLittleEndian<quint32>(quint32(frames * frameBytes), chunk);
    const bool written = ::ftruncate(fd, end) == 0 && ::pwrite(fd, riff, 4, 4) == 4 &&
                         ::pwrite(fd, chunk, 4, data + 4) == 4;
    return written && ::fsync(fd) == 0 ? frames : -1;
}

qint64 SaveWriter::write(QIODevice& file, QByteArrayView piece, qint64) {
    return file.write(piece.data(), piece.size());
}

WavContent::WavContent(const QString& folder, int sampleRate, int channels, int format)
    : m_folder(folder)
    , m_sampleRate(sampleRate)
    , m_channels(channels)
    , m_format(format)
    , m_syncAsked(std::make_shared<std::atomic<qint64>>(0)) {}

WavContent::~WavContent() {
    discard();
}

void WavContent::release(const QByteArray& unlinkFirst) {
    if (m_sound) sf_close(m_sound);
    restoreTags();
    m_sound = nullptr;
    m_place.reset();
    m_tags.clear();
    m_tagsAt = -1;
    const int fd = std::exchange(m_fd, -1);
    if (fd < 0 && unlinkFirst.isEmpty()) return;
    // On a network filesystem a close waits until the data has reached the server.
    onDiskThread(
        [fd, unlinkFirst] {
            // Removed while still locked, so that no other copy of the program takes it meanwhile.
            if (!unlinkFirst.isEmpty()) ::unlink(unlinkFirst.constData());
            if (fd >= 0) ::close(fd);
        },
        unlinkFirst.isEmpty() ? 0ms : kDropWait);
}

void WavContent::discard() {
    const QByteArray working = m_held == Held::Working ? fileNameBytes(m_path) : QByteArray();
    m_path.clear();
    m_held = Held::Nothing;
    release(working);
}

bool WavContent::reopen(int mode) {
    QByteArray tags;
    qint64 at = -1;
    SF_INFO info{};
    m_sound = mode == SFM_READ || hideTags(m_fd, tags, at) ? openSound(m_fd, mode, info, m_place)
                                                           : nullptr;
    m_tags = tags;
    m_tagsAt = at;
    restoreTags();
    return m_sound != nullptr;
}

void WavContent::leaveForRecovery() {
    sync();
    // Held no longer, so that nothing removes it.
    m_held = Held::Nothing;
    m_path.clear();
    release();
}

bool WavContent::openWorkingFile() {
    if (!makePrivateFolder(m_folder)) return false;
    QString path;
    const int fd = createWorkingFile(m_folder, path);
    if (fd < 0) return false;
    QByteArray tags;
    qint64 tagsAt = -1;
    SF_INFO info{};
    std::unique_ptr<SoundPlace> place;
    SNDFILE* sound = writeTaggedHeader(fd) && hideTags(fd, tags, tagsAt)
                         ? openSound(fd, SFM_RDWR, info, place)
                         : nullptr;
    // Content opened or stored goes on in a copy: the file it came from stays as it was.
    qint64 copied = 0;
    if (sound && m_sound)
        copied =
            sf_seek(m_sound, 0, SEEK_SET) != 0 ? -1
            : isFloating(m_format & SF_FORMAT_SUBMASK)
                ? copyFrames<double>(m_sound, sound, m_channels, sf_readf_double, sf_writef_double)
                : copyFrames<int>(m_sound, sound, m_channels, sf_readf_int, sf_writef_int);
    if (!sound || copied < 0) {
        if (sound) sf_close(sound);
        ::unlink(fileNameBytes(path).constData());
        ::close(fd);
        return false;
    }
    release();
    m_sound = sound;
    m_place = std::move(place);
    m_fd = fd;
    m_path = path;
    m_held = Held::Working;
    m_tags = tags;
    m_tagsAt = tagsAt;
    restoreTags();
    m_frames = copied;
    m_unsynced = copied > 0;
    return true;
}

std::unique_ptr<WavContent> WavContent::createEmpty(const QString& folder, const CallInfo& call) {
    std::unique_ptr<WavContent> content(
        new WavContent(folder, kNewRate, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    content->m_call = call;
    return content;
}

std::unique_ptr<WavContent> WavContent::load(const QString& path, const QString& folder,
                                             ContentFault& fault) {
    const QByteArray name = fileNameBytes(path);
    struct stat status {};
    if (::stat(name.constData(), &status) != 0 || !S_ISREG(status.st_mode)) {
        fault = ContentFault::NotAFile;
        return nullptr;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    SF_INFO info{};
    std::unique_ptr<SoundPlace> place;
    SNDFILE* source = fd >= 0 ? openSound(fd, SFM_READ, info, place) : nullptr;
    if (!source || info.channels < 1 || info.channels > kMaxChannels || info.samplerate < 1 ||
        info.samplerate > kMaxRate) {
        fault = !source && fd >= 0 && isWav(fd) ? ContentFault::Damaged : ContentFault::NotAudio;
        if (source) sf_close(source);
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    std::unique_ptr<WavContent> content(
        new WavContent(folder, info.samplerate, info.channels,
                       SF_FORMAT_WAV | spillEncoding(info.format & SF_FORMAT_SUBMASK)));
    content->m_held = Held::Source;
    content->m_fd = fd;
    content->m_sound = source;
    content->m_place = std::move(place);
    content->m_frames = info.frames;
    content->m_call = callTags(source);
    fault = claimsMoreThanHeld(fd) ? ContentFault::Truncated : ContentFault::None;
    return content;
}

qint64 WavContent::read(qint64 frame, qint16* pcm, qint64 count) {
    count = qMin(count, m_frames - frame);
    if (count <= 0 || !m_sound || sf_seek(m_sound, frame, SEEK_SET) < 0) return 0;
    return qMax<sf_count_t>(0, sf_readf_short(m_sound, pcm, count));
}

// Tags go in the header, ahead of the audio, where a recording cut off by a crash keeps them.
bool WavContent::writeTaggedHeader(int fd) {
    SF_INFO info{0, m_sampleRate, m_channels, m_format, 0, 0};
    std::unique_ptr<SoundPlace> place;
    SNDFILE* header = openSound(fd, SFM_WRITE, info, place);
    if (!header) return false;
    // A new recording starts now; content opened keeps the tags it came with, and no more.
    if (!m_call.start.isValid() && m_held == Held::Nothing) m_call.start = ClockSeam::get().now();
    writeCallTags(header, m_call);
    sf_command(header, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    return sf_close(header) == 0;
}

void WavContent::updateHeader() {
    if (m_sound) sf_command(m_sound, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    restoreTags();
}

void WavContent::restoreTags() {
    // A failed write leaves the padding where the tags stood; the audio is whole all the same.
    if (m_fd >= 0 && m_tagsAt >= 0 && !m_tags.isEmpty()) {
        [[maybe_unused]] const ssize_t written =
            ::pwrite(m_fd, m_tags.constData(), size_t(m_tags.size()), m_tagsAt);
    }
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
    return (m_held == Held::Working && m_sound) || openWorkingFile();
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
    if (!m_unsynced || m_held != Held::Working) return;
    // The header catches up here rather than at every write, which would rewrite it each time;
    // what a crash leaves between two syncs is mended at the next start.
    updateHeader();
    // One sync at a time: a disk that does not answer gets no queue of them.
    qint64 none = 0;
    if (!m_syncAsked->compare_exchange_strong(none, qMax<qint64>(1, steadyMs()))) return;
    m_unsynced = false;
    onDiskThread([fd = m_fd, asked = m_syncAsked] {
        ::fdatasync(fd);
        *asked = 0;
    });
}

bool WavContent::syncStalled(std::chrono::milliseconds limit) const {
    const qint64 asked = *m_syncAsked;
    return asked != 0 && steadyMs() - asked >= limit.count();
}

ContentFault WavContent::save(const QString& path, bool store, const LateStoreFailure& late) {
    if (path.isEmpty()) return ContentFault::FolderMissing;
    if ((m_held == Held::Nothing || m_held == Held::Source) && !openWorkingFile())
        return ContentFault::SpillFailed;
    if (!m_sound) return ContentFault::SpillFailed;
    if (store && m_held == Held::Working) return this->store(path, late);
    if (m_held == Held::Working) {
        updateHeader();
        if (repairWorkingFile(m_fd) < 0) return ContentFault::SpillFailed;
        m_unsynced = false;
    }
    return copyTo(m_fd, path, store);
}

ContentFault WavContent::store(const QString& path, const LateStoreFailure& late) {
    // libsndfile rewrites the header when it lets the file go: that happens here, before the
    // disk thread works on the file.
    sf_close(std::exchange(m_sound, nullptr));
    restoreTags();
    m_place.reset();
    m_unsynced = false;
    auto outcome = std::make_shared<std::atomic<int>>(kStoring);
    onDiskThread(
        [fd = m_fd, from = m_path, path, outcome, late] {
            const ContentFault fault = storeWorkingFile(fd, from, path);
            int storing = kStoring;
            if (outcome->compare_exchange_strong(storing, int(fault)) ||
                fault == ContentFault::None || !late)
                return;
            if (QCoreApplication* app = QCoreApplication::instance())
                QMetaObject::invokeMethod(
                    app, [late, fault] { late(fault); }, Qt::QueuedConnection);
        },
        syncStalled(kSlowDisk) ? 0ms : kStoreWait);
    int storing = kStoring;
    const ContentFault fault = outcome->compare_exchange_strong(storing, kLeftToRun)
                                   ? ContentFault::None
                                   : ContentFault(storing);
    if (fault == ContentFault::None) {
        m_held = Held::Stored;
        m_path.clear();
    }
    // Read where it now lies, or written on as before the store was tried.
    reopen(fault == ContentFault::None ? SFM_READ : SFM_RDWR);
    return fault;
}

} // namespace tova
