#pragma once

#include "AudioBackend.h"
#include "CallInfo.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>
#include <vector>

namespace tova {

class BusyToneDetector;
class WavContent;
enum class ContentFault;

// The multimedia device's error codes; Error is 0 after a command that worked.
enum MciError : int {
    mciErrNone = 0,
    mciErrUnknownCommand = 1,
    mciErrWrongDeviceType = 2,
    mciErrNotOpen = 3,
    mciErrNotAFile = 4,
    mciErrNotAudio = 5,
    mciErrTruncated = 6,
    mciErrNoWorkingFile = 7,
    mciErrNoFileName = 8,
    mciErrFolderMissing = 9,
    mciErrSaveFailed = 10,
    mciErrNoInput = 11,
    mciErrNoOutput = 12,
    mciErrInputLost = 13,
    mciErrOutputLost = 14,
    mciErrUnsupported = 15,
    mciErrBadSetting = 16,
    mciErrNameTaken = 17,
    mciErrDiskStalled = 18,
    mciErrDamaged = 19,
};

// Stores that go on after the device has let them go, because the disk did not answer in time.
// One that fails in the end is told here, on the application's thread; its call then stays in
// the working folder, for the next start to recover.
class LateStores : public QObject {
    Q_OBJECT
public:
    static LateStores& instance();

signals:
    void failed(const QString& path, const QString& reason);
};

// A wave-audio device: opens, records, plays and saves one piece of content. It never throws;
// a failure leaves its code and a message for the user in error() and errorMessage().
class WaveDevice : public QObject, private AudioInput::Client, private AudioOutput::Client {
    Q_OBJECT
public:
    static constexpr qint64 kStepMs = 1000;

    explicit WaveDevice(QObject* parent = nullptr);
    ~WaveDevice() override;

    // Opens path; no path gives a new empty recording in a working file of its own in the
    // working folder.
    void open(const QString& path);
    // Drops the content, with its working file.
    void close();
    // Closes, leaving the working file with all that was captured for the next start to recover.
    void closeForRecovery();
    // Puts what was captured up to now on the disk, as the sync timer does; recording goes on.
    void sync();
    // What the next new recording is tagged with; how a call ended also reaches the recording
    // in hand.
    void setCallInfo(const CallInfo& call);
    // While recording, stores everything captured up to now; the recording goes on. In the
    // recordings folder the working file moves to a name nothing has yet (mciErrNameTaken
    // when taken); elsewhere a copy replaces what is there.
    void save(const QString& path);
    void play();
    void pause();
    void stop();
    void record();
    void seekStart();
    void seekEnd();
    // Moves by kStepMs back (-1) or on (+1).
    void step(int direction);

    int mode() const { return m_mode; }
    qint64 position() const; // milliseconds
    qint64 length() const;   // milliseconds
    int error() const { return m_error; }
    QString errorMessage() const { return m_errorMessage; }
    // Why the last recording could not start or ended by itself (no input, input lost, working
    // file not written), kept through other commands until a recording starts; otherwise
    // mciErrDiskStalled while the disk has not answered a sync for kStallReport.
    int recordFault() const;
    static constexpr std::chrono::seconds kStallReport{5};

    void clearError();
    void fail(MciError code, const QString& detail = {});

signals:
    void modeChanged(int mode);

private:
    void captured(QByteArrayView pcm) override;
    void inputFailed(const QString& reason) override;
    void inputNotStarted(const QString& reason) override;
    qint64 supply(char* data, qint64 maxBytes) override;
    bool suppliedAll() const override;
    void outputFinished() override;
    void outputFailed(const QString& reason) override;
    void outputNotStarted(const QString& reason) override;

    bool requireOpen();
    void setMode(int mode);
    qint64 currentFrame() const;
    void seekFrame(qint64 frame);
    void endStreams(bool drainInput);
    bool startOutput();
    void retire(std::unique_ptr<AudioStream> stream);
    void buryRetired();
    void failContent(ContentFault fault, const QString& path);
    qint64 toMs(qint64 frames) const;

    std::unique_ptr<WavContent> m_content;
    std::unique_ptr<AudioInput> m_input;
    std::unique_ptr<AudioOutput> m_output;
    // Streams stopped from inside their own reports, deleted once those have returned.
    std::vector<std::unique_ptr<AudioStream>> m_retired;
    int m_mode;
    qint64 m_frame = 0;    // the position, except while playing
    qint64 m_playFrom = 0; // where the running playback started
    qint64 m_supplied = 0; // the next frame to hand to the output
    QByteArray m_partial;  // a captured frame split between two deliveries
    int m_error = mciErrNone;
    QString m_errorMessage;
    QTimer m_syncTimer;
    int m_recordFault = mciErrNone;
    CallInfo m_call;
    // Listens for the exchange's busy tone in a call's audio as it is collected.
    std::unique_ptr<BusyToneDetector> m_busyTone;
};

} // namespace tova
