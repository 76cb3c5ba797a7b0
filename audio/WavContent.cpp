#include "WavContent.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>
#include <QtEndian>

#include <sndfile.h>

#include <cstring>
#include <vector>

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

// libsndfile quietly shortens a data chunk that runs past the end of the file; the user
// should hear what is there, but also learn that the file was cut off.
bool claimsMoreThanHeld(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const qint64 size = file.size();
    char chunk[12];
    if (file.read(chunk, 12) != 12 || std::memcmp(chunk, "RIFF", 4) != 0 ||
        std::memcmp(chunk + 8, "WAVE", 4) != 0)
        return false;
    qint64 at = 12;
    while (at + 8 <= size && file.seek(at) && file.read(chunk, 8) == 8) {
        const quint32 length = qFromLittleEndian<quint32>(chunk + 4);
        // A streaming writer that never came back to fill in the length leaves all ones.
        if (std::memcmp(chunk, "data", 4) == 0)
            return length != 0xFFFFFFFFu && length > size - at - 8;
        at += 8 + qint64(length) + (length & 1);
    }
    return false;
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

qint64 SaveWriter::write(QIODevice& file, QByteArrayView piece, qint64) {
    return file.write(piece.data(), piece.size());
}

WavContent::~WavContent() {
    if (m_sound) sf_close(m_sound);
}

int WavContent::sampleRate() const {
    return m_sampleRate;
}
int WavContent::channels() const {
    return m_channels;
}

bool WavContent::openSpill(int sampleRate, int channels, int format) {
    m_spill.setFileTemplate(QDir::tempPath() + QStringLiteral("/tova-XXXXXX.wav"));
    // Asking for the name makes Qt link the file into the folder; otherwise it may stay
    // nameless, and a crash would take the recording with it.
    if (!m_spill.open() || m_spill.fileName().isEmpty()) return false;
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format;
    m_sound = sf_open_fd(m_spill.handle(), SFM_RDWR, &info, SF_FALSE);
    if (!m_sound) return false;
    m_sampleRate = sampleRate;
    m_channels = channels;
    // Floating samples run from -1 to 1; the sound system's 16-bit samples are scaled to fit.
    if (isFloating(format & SF_FORMAT_SUBMASK)) {
        sf_command(m_sound, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
        sf_command(m_sound, SFC_SET_SCALE_INT_FLOAT_WRITE, nullptr, SF_TRUE);
    }
    return true;
}

std::unique_ptr<WavContent> WavContent::createEmpty(ContentFault& fault) {
    std::unique_ptr<WavContent> content(new WavContent);
    if (!content->openSpill(kNewRate, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16)) {
        fault = ContentFault::SpillFailed;
        return nullptr;
    }
    sf_command(content->m_sound, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    fault = ContentFault::None;
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
    std::unique_ptr<WavContent> content(new WavContent);
    if (!content->openSpill(info.samplerate, info.channels, SF_FORMAT_WAV | encoding)) {
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
    sf_command(content->m_sound, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    sf_command(content->m_sound, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    fault = claimsMoreThanHeld(path) ? ContentFault::Truncated : ContentFault::None;
    return content;
}

qint64 WavContent::read(qint64 frame, qint16* pcm, qint64 count) {
    count = qMin(count, m_frames - frame);
    if (count <= 0 || sf_seek(m_sound, frame, SEEK_SET) < 0) return 0;
    return qMax<sf_count_t>(0, sf_readf_short(m_sound, pcm, count));
}

bool WavContent::write(qint64 frame, const qint16* pcm, qint64 count) {
    if (frame < 0 || frame > m_frames || sf_seek(m_sound, frame, SEEK_SET) < 0) return false;
    const sf_count_t written = sf_writef_short(m_sound, pcm, count);
    m_frames = qMax(m_frames, frame + qMax<sf_count_t>(0, written));
    return written == count;
}

ContentFault WavContent::save(const QString& path) {
    sf_command(m_sound, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    if (path.isEmpty() || !QFileInfo(path).absoluteDir().exists())
        return ContentFault::FolderMissing;
    QFile spill(m_spill.fileName());
    if (!spill.open(QIODevice::ReadOnly)) return ContentFault::SpillFailed;
    // QSaveFile writes a temporary file beside the target and renames it over the target only
    // once everything is on the disk.
    QSaveFile target(path);
    if (!target.open(QIODevice::WriteOnly)) return ContentFault::WriteFailed;
    SaveWriter& writer = SaveWriterSeam::get();
    qint64 offset = 0;
    for (;;) {
        const QByteArray piece = spill.read(kSavePiece);
        if (piece.isEmpty()) break;
        if (writer.write(target, piece, offset) != piece.size()) {
            target.cancelWriting();
            return ContentFault::WriteFailed;
        }
        offset += piece.size();
    }
    if (spill.error() != QFileDevice::NoError) {
        target.cancelWriting();
        return ContentFault::SpillFailed;
    }
    return target.commit() ? ContentFault::None : ContentFault::WriteFailed;
}

} // namespace tova
