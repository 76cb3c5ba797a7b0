#include "WaveDevice.h"

#include "AppInfo.h"
#include "FileNames.h"
#include "BusyTone.h"
#include "MciMode.h"
#include "ModemInput.h"
#include "Settings.h"
#include "VoiceLine.h"
#include "WavContent.h"

#include <QDir>
#include <QTimer>

#include <cstdlib>
#include <vector>

namespace tova {

namespace {

// How often what was captured is written and made durable. With the quarter second the sound
// server holds, a power cut loses at most the last three quarters of a second.
constexpr std::chrono::milliseconds kSyncInterval{500};

// What the user reads when a command fails, by code.
QString message(MciError code) {
    switch (code) {
    case mciErrNone:
        return {};
    case mciErrUnknownCommand:
        return QStringLiteral("设备不认识命令“%1”。");
    case mciErrWrongDeviceType:
        return QStringLiteral("不支持设备类型“%1”，只能用 WAVEAudio。");
    case mciErrNotOpen:
        return QStringLiteral("设备没有打开。");
    case mciErrNotAFile:
        return QStringLiteral("“%1”不是文件，无法打开。");
    case mciErrNotAudio:
        return QStringLiteral("“%1”不是可以读取的声音文件，无法打开。");
    case mciErrTruncated:
        return QStringLiteral("“%1”不完整，只打开了文件里现有的声音。");
    case mciErrNoWorkingFile:
        return QStringLiteral("无法写入录音的工作文件，请检查磁盘空间和录音文件夹的权限。");
    case mciErrNoFileName:
        return QStringLiteral("没有指定文件名。");
    case mciErrFolderMissing:
        return QStringLiteral("无法保存“%1”：文件夹不存在。");
    case mciErrSaveFailed:
        return QStringLiteral("无法保存“%1”：写入失败，磁盘可能已满或没有写入权限。");
    case mciErrNoInput:
        return QStringLiteral("没有可以录音的设备，无法录音。");
    case mciErrNoOutput:
        return QStringLiteral("没有可以放音的设备，无法放音。");
    case mciErrInputLost:
        return QStringLiteral("录音设备出错，录音已停止，已录的声音仍然保留。");
    case mciErrOutputLost:
        return QStringLiteral("放音设备出错，放音已停止。");
    case mciErrUnsupported:
        return QStringLiteral("声音设备不支持这个命令。");
    case mciErrBadSetting:
        return QStringLiteral("设置值“%1”无效。");
    case mciErrNameTaken:
        return QStringLiteral("无法保存“%1”：已经有这个名字的文件。");
    case mciErrDiskStalled:
        return QStringLiteral("磁盘没有响应，录音可能未写入磁盘。");
    case mciErrDamaged:
        return QStringLiteral("“%1”是损坏或不完整的 WAV 文件，无法打开。");
    }
    return {};
}

QString message(MciError code, const QString& detail) {
    const QString text = message(code);
    return text.contains(QLatin1String("%1")) ? text.arg(detail) : text;
}

MciError codeFor(ContentFault fault) {
    switch (fault) {
    case ContentFault::None:
        return mciErrNone;
    case ContentFault::NotAFile:
        return mciErrNotAFile;
    case ContentFault::NotAudio:
        return mciErrNotAudio;
    case ContentFault::Damaged:
        return mciErrDamaged;
    case ContentFault::Truncated:
        return mciErrTruncated;
    case ContentFault::SpillFailed:
        return mciErrNoWorkingFile;
    case ContentFault::FolderMissing:
        return mciErrFolderMissing;
    case ContentFault::WriteFailed:
        return mciErrSaveFailed;
    case ContentFault::NameTaken:
        return mciErrNameTaken;
    }
    return mciErrNoWorkingFile;
}

QByteArray realFolder(const QByteArray& path) {
    char* real = ::realpath(path.constData(), nullptr);
    const QByteArray folder(real);
    std::free(real);
    return folder;
}

// Saving there stores a call, which never replaces anything; elsewhere the user chose the file.
bool inRecordingsFolder(const QString& path) {
    const QByteArray name = fileNameBytes(path);
    const QByteArray folder = realFolder(fileNameBytes(recordingsFolder()));
    return !folder.isEmpty() &&
           realFolder(name.contains('/') ? name.left(name.lastIndexOf('/') + 1) : "./") == folder;
}

} // namespace

LateStores& LateStores::instance() {
    static LateStores stores;
    return stores;
}

WaveDevice::WaveDevice(QObject* parent)
    : QObject(parent)
    , m_mode(mciModeNotOpen) {
    // One wake-up a beat for the capture and the disk alike, in step with the windows' timers.
    m_syncTimer.callOnTimeout(this, [this] {
        if (m_input) m_input->collect();
        if (m_content) m_content->sync();
    });
    m_syncTimer.start(kSyncInterval);
}

WaveDevice::~WaveDevice() {
    endStreams(false);
    buryRetired();
}

int WaveDevice::recordFault() const {
    if (m_recordFault == mciErrNone && m_content && m_content->syncStalled(kStallReport))
        return mciErrDiskStalled;
    return m_recordFault;
}

void WaveDevice::clearError() {
    m_error = mciErrNone;
    m_errorMessage.clear();
}

void WaveDevice::fail(MciError code, const QString& detail) {
    m_error = code;
    m_errorMessage = message(code, detail);
    if (code == mciErrNoInput || code == mciErrInputLost || code == mciErrNoWorkingFile)
        m_recordFault = code;
}

void WaveDevice::failContent(ContentFault fault, const QString& path) {
    fail(codeFor(fault), QDir::toNativeSeparators(path));
}

void WaveDevice::setCallInfo(const CallInfo& call) {
    m_call = call;
    if (m_content) m_content->setEnding(call.ending);
}

bool WaveDevice::requireOpen() {
    if (m_content) return true;
    fail(mciErrNotOpen);
    return false;
}

void WaveDevice::setMode(int mode) {
    if (mode == m_mode) return;
    m_mode = mode;
    emit modeChanged(mode);
}

qint64 WaveDevice::toMs(qint64 frames) const {
    return m_content ? frames * 1000 / m_content->sampleRate() : 0;
}

qint64 WaveDevice::currentFrame() const {
    if (!m_output) return m_frame;
    return m_playFrom + qMin(m_output->playedFrames(), m_supplied - m_playFrom);
}

qint64 WaveDevice::position() const {
    return toMs(currentFrame());
}

qint64 WaveDevice::length() const {
    return m_content ? toMs(m_content->frames()) : 0;
}

void WaveDevice::retire(std::unique_ptr<AudioStream> stream) {
    if (!stream) return;
    stream->stop();
    m_retired.push_back(std::move(stream));
    QTimer::singleShot(0, this, &WaveDevice::buryRetired);
}

void WaveDevice::buryRetired() {
    // Qt's stream destructors may run the event loop, which may call here again.
    const auto dead = std::move(m_retired);
    m_retired.clear();
}

void WaveDevice::endStreams(bool drainInput) {
    if (m_input) {
        if (drainInput) m_input->drain();
        retire(std::move(m_input));
        m_partial.clear();
    }
    if (m_output) {
        m_frame = currentFrame();
        retire(std::move(m_output));
    }
}

void WaveDevice::open(const QString& path) {
    clearError();
    close();
    ContentFault fault = ContentFault::None;
    // Only no path at all means a new recording: a file that has gone is a failed open.
    m_content = path.isEmpty() ? WavContent::createEmpty(workingFolder(), m_call)
                               : WavContent::load(path, workingFolder(), fault);
    if (fault != ContentFault::None) failContent(fault, path);
    if (m_content) setMode(mciModeStop);
}

void WaveDevice::close() {
    clearError();
    endStreams(false);
    if (m_content) m_content->discard();
    m_content.reset();
    m_busyTone.reset();
    m_frame = 0;
    setMode(mciModeNotOpen);
}

void WaveDevice::closeForRecovery() {
    if (m_input) m_input->drain();
    if (m_content) m_content->leaveForRecovery();
    close();
}

void WaveDevice::sync() {
    if (m_input) m_input->collect();
    if (m_content) m_content->sync();
}

void WaveDevice::save(const QString& path) {
    clearError();
    if (!requireOpen()) return;
    if (path.isEmpty()) {
        fail(mciErrNoFileName);
        return;
    }
    // What the sound system has captured but not yet handed over belongs in the file too. A
    // failure there is the recording's (recordFault); the save itself may still work.
    if (m_input) m_input->drain();
    clearError();
    const QString shown = QDir::toNativeSeparators(path);
    const ContentFault fault =
        m_content->save(path, inRecordingsFolder(path), [shown](ContentFault late) {
            emit LateStores::instance().failed(shown, message(codeFor(late), shown));
        });
    if (fault != ContentFault::None) failContent(fault, path);
}

void WaveDevice::record() {
    clearError();
    if (!requireOpen() || m_input) return;
    if (!m_content->prepareWrite()) {
        fail(mciErrNoWorkingFile);
        return;
    }
    QString reason;
    PcmFormat format{m_content->sampleRate(), m_content->channels()};
    // A call streamed through the modem is recorded from it; a recording made in the query
    // window never is.
    const bool call = m_call.direction != kLocalRecording;
    auto input = call && VoiceLine::instance().isOpen()
                     ? startModemInput(*this)
                     : AudioBackendSeam::get().startInput(format, *this, reason);
    if (!input) {
        fail(mciErrNoInput);
        return;
    }
    endStreams(true);
    m_input = std::move(input);
    m_recordFault = mciErrNone;
    const Settings& settings = Settings::current();
    if (call && settings.hangUpOnBusy && !m_busyTone && format.sampleRate == 8000 &&
        format.channels == 1)
        m_busyTone = std::make_unique<BusyToneDetector>(settings.busyTone);
    setMode(mciModeRecord);
}

void WaveDevice::play() {
    clearError();
    if (!requireOpen() || m_output) return;
    endStreams(true);
    if (m_frame >= m_content->frames()) m_frame = 0; // at the end, play starts over
    if (startOutput())
        setMode(mciModePlay);
    else
        setMode(mciModeStop);
}

bool WaveDevice::startOutput() {
    m_playFrom = m_supplied = m_frame;
    QString reason;
    PcmFormat format{m_content->sampleRate(), m_content->channels()};
    m_output = AudioBackendSeam::get().startOutput(format, *this, reason);
    if (!m_output) fail(mciErrNoOutput);
    return m_output != nullptr;
}

void WaveDevice::pause() {
    clearError();
    if (!requireOpen()) return;
    if (m_input || m_output) {
        endStreams(true);
        setMode(mciModePause);
    }
}

void WaveDevice::stop() {
    clearError();
    if (!requireOpen()) return;
    endStreams(true);
    setMode(mciModeStop);
}

void WaveDevice::seekFrame(qint64 frame) {
    if (!requireOpen()) return;
    if (m_input) {
        endStreams(true);
        setMode(mciModeStop);
    }
    const bool playing = m_output != nullptr;
    endStreams(false);
    m_frame = qBound<qint64>(0, frame, m_content->frames());
    if (playing && !startOutput()) setMode(mciModeStop);
}

void WaveDevice::seekStart() {
    clearError();
    seekFrame(0);
}

void WaveDevice::seekEnd() {
    clearError();
    if (requireOpen()) seekFrame(m_content->frames());
}

void WaveDevice::step(int direction) {
    clearError();
    if (requireOpen())
        seekFrame(currentFrame() + direction * kStepMs * m_content->sampleRate() / 1000);
}

void WaveDevice::captured(QByteArrayView pcm) {
    const int frameBytes = 2 * m_content->channels();
    m_partial.append(pcm.data(), pcm.size());
    const qint64 frames = m_partial.size() / frameBytes;
    if (frames == 0) return;
    if (m_busyTone && !m_busyTone->heard() &&
        m_busyTone->hear(reinterpret_cast<const int16_t*>(m_partial.constData()), int(frames)))
        VoiceLine::instance().farEndHungUp();
    const bool written =
        m_content->write(m_frame, reinterpret_cast<const qint16*>(m_partial.constData()), frames);
    m_partial.remove(0, frames * frameBytes);
    if (written) {
        m_frame += frames;
        return;
    }
    m_frame = m_content->frames();
    retire(std::move(m_input));
    m_partial.clear();
    fail(mciErrNoWorkingFile);
    setMode(mciModeStop);
}

void WaveDevice::inputFailed(const QString&) {
    retire(std::move(m_input));
    m_partial.clear();
    fail(mciErrInputLost);
    setMode(mciModeStop);
}

void WaveDevice::inputNotStarted(const QString&) {
    retire(std::move(m_input));
    fail(mciErrNoInput);
    setMode(mciModeStop);
}

qint64 WaveDevice::supply(char* data, qint64 maxBytes) {
    const int frameBytes = 2 * m_content->channels();
    const qint64 got =
        m_content->read(m_supplied, reinterpret_cast<qint16*>(data), maxBytes / frameBytes);
    m_supplied += got;
    return got * frameBytes;
}

bool WaveDevice::suppliedAll() const {
    return m_supplied >= m_content->frames();
}

void WaveDevice::outputFinished() {
    retire(std::move(m_output));
    m_frame = m_supplied;
    setMode(mciModeStop);
}

void WaveDevice::outputFailed(const QString&) {
    m_frame = currentFrame();
    retire(std::move(m_output));
    fail(mciErrOutputLost);
    setMode(mciModeStop);
}

void WaveDevice::outputNotStarted(const QString&) {
    retire(std::move(m_output));
    fail(mciErrNoOutput);
    setMode(mciModeStop);
}

} // namespace tova
