#include "frmMain.h"

#include "AppInfo.h"
#include "ArchivePath.h"
#include "CallInfo.h"
#include "JournalService.h"
#include "MMControl.h"
#include "MessageBoxes.h"
#include "RegionalClock.h"
#include "Slider.h"
#include "Twips.h"
#include "WaveDevice.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>

#include <array>
#include <chrono>
#include <stdexcept>

namespace tova {

namespace {

constexpr std::chrono::milliseconds kStatusLineInterval{100};
constexpr QSize kClientSize = twipsSize(4680, 3135);

constexpr std::array kDesign{
    ControlDesign{"lblNow", "现在时间", 360, 480, 2775, 255},
    ControlDesign{"Label1", "", 720, 840, 2775, 375},
    ControlDesign{"lblTotal", "总共时间", 360, 1320, 3375, 375},
    ControlDesign{"sld", nullptr, 720, 1920, 3735, 375},
    ControlDesign{"mci", nullptr, 840, 2640, 3540, 330},
    ControlDesign{"Text1", "Text1", 2280, 1560, 2295, 495},
};
constexpr std::array kTabOrder{"mci", "sld"};

// The device reports a failed save only in its error state; the save sequence turns it into
// an error of its own so that the recording is kept.
struct RecordingNotStored : std::runtime_error {
    RecordingNotStored(const QString& path, const QString& reason)
        : std::runtime_error("recording not stored")
        , path(path)
        , reason(reason) {}
    QString path;
    QString reason;
};

// The status line when the device could not record or stopped by itself.
QString faultText(int recordFault) {
    switch (recordFault) {
    case mciErrNoInput:
        return QStringLiteral("录音失败：没有可用的声音设备");
    case mciErrInputLost:
        return QStringLiteral("录音失败：声音设备已断开");
    case mciErrNoWorkingFile:
        return QStringLiteral("录音失败：磁盘已满或无法写入");
    case mciErrDiskStalled:
        return QStringLiteral("磁盘没有响应，录音可能未写入");
    }
    return {};
}

// A call whose store went on after its recorder had closed, and failed: where it is now.
void tellLateStoreFailure(const QString& path, const QString& reason) {
    MsgBox(QStringLiteral("录音未能保存到 %1\n原因：%2\n录音仍在录音文件夹的“.录音中”文件夹里，"
                          "下次启动程序时会自动找回。")
               .arg(path, reason));
}

template <class T> T* named(T* control, const char* name) {
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

} // namespace

frmMain::frmMain()
    : lblNow(named(new QLabel(this), "lblNow"))
    , Label1(named(new QLabel(this), "Label1"))
    , lblTotal(named(new QLabel(this), "lblTotal"))
    , sld(named(new Slider(10, 1, 5, this), "sld"))
    , mci(named(new MMControl(this), "mci"))
    , Text1(named(new QLineEdit(this), "Text1"))
    , m_display(*mci, *lblNow, *lblTotal, *sld) {
    setWindowTitle(QStringLiteral("录音机V1.1"));
    applyDesign(this, kDesign);
    applyTabOrder(this, kTabOrder);
    placeAtScreenOrigin(kClientSize);
    Text1->hide();
    mci->setDeviceType(QStringLiteral("WAVEAudio"));
    // No file: each call opens a new recording of its own.
    mci->setFileName(QString());

    connect(mci, &MMControl::RecordClick, this, &frmMain::mci_RecordClick);
    connect(mci, &MMControl::StopClick, this, &frmMain::mci_StopClick);
    connect(mci, &MMControl::StatusUpdate, this, &frmMain::mci_StatusUpdate);
    connect(&Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
    Timer1.start(kStatusLineInterval);
    // The store outlives the window it was made by.
    static const QMetaObject::Connection told =
        connect(&LateStores::instance(), &LateStores::failed, qApp, &tellLateStoreFailure);
}

frmMain::~frmMain() {
    // The device may still report while it shuts down, after the labels have gone.
    disconnect(mci, nullptr, this, nullptr);
}

void frmMain::Form_Load() {
    m_attempt = currentAttempt();
    mci->setCallInfo(currentCall());
    mci->setCommand(QStringLiteral("Open"));
    mci->setRecordMode(1);
    m_changed = false;
    m_recordWhenShown = true;
}

void frmMain::showEvent(QShowEvent* event) {
    Form::showEvent(event);
    if (!m_recordWhenShown) return;
    m_recordWhenShown = false;
    // Pressed through the component rather than by a click at a screen point, which would hit
    // whatever lies there and move the user's pointer. Queued, so the window is up first.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!isUnloaded()) mci->press(MciButton::Record);
        },
        Qt::QueuedConnection);
}

void frmMain::Form_QueryUnload(short& Cancel, short UnloadMode) {
    // The logout may yet be refused: the call goes on, with what it has so far on the disk.
    if (UnloadMode == vbAppWindows) {
        mci->setCommand(QStringLiteral("Sync"));
        return;
    }
    if (!m_changed) return;
    // A recording that never started, or failed before any audio came, has nothing to store;
    // the status line has said why. Only a running capture may still hold audio in hand.
    if (mci->Length() == 0 && mci->Mode() != mciModeRecord) {
        mci->setCommand(QStringLiteral("close"));
        m_changed = false;
        return;
    }
    // How the call ended, when the main window has said so.
    mci->setCallInfo(currentCall());
    try {
        SaveRecording();
    } catch (const RecordingNotStored& failure) {
        // Ending with nobody to tell: the next start stores the call from its working file.
        if (UnloadMode == vbAppTaskManager) {
            mci->setCommand(QStringLiteral("Keep"));
            m_changed = false;
            return;
        }
        Cancel = 1;
        setMousePointer(vbDefault);
        MsgBox(QStringLiteral(
                   "录音未能保存到 %1\n原因：%2\n录音仍在录音机中，再次关闭窗口时将重新保存。")
                   .arg(failure.path, failure.reason));
    }
}

void frmMain::SaveRecording() {
    const RegionalClock& clock = ClockSeam::get();
    // Date first: a save that straddles midnight carries the earlier date.
    const QDate date = clock.now().date();
    const QTime time = clock.now().time();
    Text1->setText(clock.timeText(time));
    // A name that another recording took, in this copy of the program or another, stays its.
    QString path;
    for (int copy = 1; copy == 1 || mci->Error() == mciErrNameTaken; ++copy) {
        path = archivePath(recordingsFolder(), clock.dateText(date), Text1->text(), copy);
        cdlg.setFileName(path);
        mci->setFileName(cdlg.FileName());
        mci->setCommand(QStringLiteral("Save"));
    }
    if (mci->Error() != 0) throw RecordingNotStored(path, mci->ErrorMessage());
    JournalService::instance().linkRecording(m_attempt, QFileInfo(path).fileName());
    setMousePointer(vbHourglass);
    mci->setCommand(QStringLiteral("close"));
    m_changed = false;
    setMousePointer(vbDefault);
}

void frmMain::mci_RecordClick(short&) {
    m_changed = true;
}

void frmMain::mci_StopClick(short&) {
    m_display.stopClick();
}

void frmMain::mci_StatusUpdate() {
    m_display.statusUpdate();
}

void frmMain::Timer1_Timer() {
    const QString fault = faultText(mci->RecordFault());
    if (!fault.isEmpty())
        Label1->setText(fault);
    else
        Label1->setText(m_changed ? QStringLiteral("录音进行中............. ")
                                  : QStringLiteral("请按录音键录音............. "));
}

} // namespace tova
