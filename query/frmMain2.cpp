#include "frmMain2.h"

#include "AppInfo.h"
#include "CallDetails.h"
#include "CallLogExport.h"
#include "FileListBox.h"
#include "JournalService.h"
#include "MMControl.h"
#include "MessageBoxes.h"
#include "PositionDisplay.h"
#include "Slider.h"
#include "Twips.h"
#include "WaveDevice.h"
#include "frmCallLog.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>

namespace tova {

namespace {

constexpr QSize kClientSize = twipsSize(12885, 10710);

constexpr ControlDesign kDesign[] = {
    {"lblNow2", "Label1", 1680, 240, 2295, 375},
    {"sld2", nullptr, 3000, 720, 6375, 375},
    {"lblTotal2", "Label1", 1680, 1200, 2295, 375},
    {"File1", nullptr, 120, 1680, 4095, 7110},
    {"mci2", nullptr, 5400, 1680, 3960, 375},
    {"Command1", "退出查询", 8520, 5640, 1695, 615},
    // Only shown when the recordings folder is missing, under the list it would fill.
    {"lblFolderMissing", nullptr, 120, 8880, 4095, 855},
    // The search and the selected call, in the right half that the rest leaves free.
    {"lblSearch", "查找：", 4440, 2520, 900, 375},
    {"txtSearch", nullptr, 5400, 2520, 3960, 375},
    {"lblNumberCaption", "号码：", 4440, 3120, 900, 375},
    {"lblNumber", nullptr, 5400, 3120, 7200, 375},
    {"lblNameCaption", "姓名：", 4440, 3600, 900, 375},
    {"lblName", nullptr, 5400, 3600, 7200, 375},
    {"lblDirectionCaption", "方向：", 4440, 4080, 900, 375},
    {"lblDirection", nullptr, 5400, 4080, 7200, 375},
    {"lblStartCaption", "开始：", 4440, 4560, 900, 375},
    {"lblStart", nullptr, 5400, 4560, 7200, 375},
    {"lblLengthCaption", "时长：", 4440, 5040, 900, 375},
    {"lblLength", nullptr, 5400, 5040, 7200, 375},
    // Below the exit button, which the details' rows would run into.
    {"lblNoteCaption", "备注：", 4440, 6360, 900, 375},
    {"txtNote", nullptr, 5400, 6360, 7200, 375},
    {"lblLearning", nullptr, 4440, 6840, 8160, 375},
};

constexpr const char* kCaptions[] = {"lblSearch",           "lblNumberCaption", "lblNameCaption",
                                     "lblDirectionCaption", "lblStartCaption",  "lblLengthCaption",
                                     "lblNoteCaption"};
// In the order CallDetails takes them.
constexpr const char* kDetails[] = {"lblNumber", "lblName", "lblDirection", "lblStart",
                                    "lblLength"};

constexpr const char* kTabOrder[] = {"mci2", "File1", "sld2", "Command1", "txtSearch", "txtNote"};

constexpr int kSliderMax = 10;
constexpr int kSliderSmallChange = 1;
constexpr int kSliderLargeChange = 5;

// Overwrite from the current position, extending past the end.
constexpr int kRecordOverwrite = 1;

template <class T> T* named(T* control, const char* name) {
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

} // namespace

frmMain2::frmMain2()
    : m_menuBar(new QMenuBar(this))
    , m_client(new QWidget(this))
    , lblNow2(named(new QLabel(m_client), "lblNow2"))
    , sld2(named(new Slider(kSliderMax, kSliderSmallChange, kSliderLargeChange, m_client), "sld2"))
    , lblTotal2(named(new QLabel(m_client), "lblTotal2"))
    , File1(named(new FileListBox(m_client), "File1"))
    , mci2(named(new MMControl(m_client), "mci2"))
    , Command1(named(new QPushButton(m_client), "Command1"))
    , lblFolderMissing(named(new QLabel(m_client), "lblFolderMissing"))
    , txtSearch(named(new QLineEdit(m_client), "txtSearch"))
    , txtNote(named(new QLineEdit(m_client), "txtNote"))
    , lblLearning(named(new QLabel(m_client), "lblLearning"))
    , m_display(std::make_unique<PositionDisplay>(*mci2, *lblNow2, *lblTotal2, *sld2)) {
    setWindowTitle(QStringLiteral("欢迎进入语音查询"));

    mnuFileOpen = m_menuBar->addAction(QStringLiteral("打开语音文件"));
    mnuFileOpen->setObjectName(QStringLiteral("mnuFileOpen"));
    mnuExport = m_menuBar->addAction(QStringLiteral("导出通话记录…"));
    mnuExport->setObjectName(QStringLiteral("mnuExport"));
    mnuCallLog = m_menuBar->addAction(QStringLiteral("通话记录"));
    mnuCallLog->setObjectName(QStringLiteral("mnuCallLog"));

    for (const char* name : kCaptions)
        named(new QLabel(m_client), name);
    QList<QLabel*> details;
    for (const char* name : kDetails)
        details.append(named(new QLabel(m_client), name));
    m_details = std::make_unique<CallDetails>(details);
    txtSearch->setPlaceholderText(QStringLiteral("号码、姓名、备注或文件名"));
    txtSearch->setClearButtonEnabled(true);
    txtNote->setEnabled(false);

    applyDesign(m_client, kDesign);
    applyTabOrder(m_client, kTabOrder);
    lblFolderMissing->setWordWrap(true);
    lblFolderMissing->hide();

    mci2->setDeviceType(QStringLiteral("WAVEAudio"));
    mci2->setFileName(QString()); // a new recording, until a file is opened
    mci2->setButtonVisible(MciButton::Eject, false);

    cdlg2.setFilter(QStringLiteral("*.wav"));

    placeWithMenu(m_menuBar, m_client, kClientSize);

    connect(mnuFileOpen, &QAction::triggered, this, &frmMain2::mnuFileOpen_Click);
    connect(mnuExport, &QAction::triggered, this, &frmMain2::mnuExport_Click);
    connect(mnuCallLog, &QAction::triggered, this, &frmMain2::mnuCallLog_Click);
    connect(File1, &FileListBox::itemSelectionChanged, this, &frmMain2::File1_Click);
    connect(txtSearch, &QLineEdit::textChanged, this, &frmMain2::txtSearch_Change);
    connect(txtNote, &QLineEdit::editingFinished, this, &frmMain2::txtNote_LostFocus);
    JournalService& journal = JournalService::instance();
    connect(&journal, &JournalService::learning, this, &frmMain2::journal_Learning);
    // What the index learns meanwhile is searched too.
    connect(&journal, &JournalService::changed, this, [this] {
        if (!txtSearch->text().isEmpty()) txtSearch_Change();
    });
    connect(Command1, &QPushButton::clicked, this, &frmMain2::Command1_Click);
    connect(mci2, &MMControl::StatusUpdate, this, &frmMain2::mci2_StatusUpdate);
    connect(mci2, &MMControl::RecordClick, this, &frmMain2::mci2_RecordClick);
    connect(mci2, &MMControl::StopClick, this, &frmMain2::mci2_StopClick);
}

frmMain2::~frmMain2() {
    // The device outlives this part of the window by a moment while the children go.
    disconnect(mci2, nullptr, this, nullptr);
}

void frmMain2::Form_Load() {
    mci2->setCallInfo({{}, {}, kLocalRecording, {}});
    mci2->setCommand(QStringLiteral("Open"));
    mci2->setRecordMode(kRecordOverwrite);
    changed = kFalse;
    listRecordings();
    const LearnProgress progress = JournalService::instance().progress();
    journal_Learning(progress.done, progress.total);
    reportJournalProblems(this);
}

void frmMain2::listRecordings() {
    const bool listed = File1->setPath(recordingsFolder());
    if (!listed)
        lblFolderMissing->setText(QStringLiteral("找不到录音文件夹：") +
                                  QDir::toNativeSeparators(recordingsFolder()));
    lblFolderMissing->setVisible(!listed);
    JournalService::instance().folderChanged();
    txtSearch_Change();
}

void frmMain2::openRecording(const QString& fileName) {
    if (!File1->select(fileName)) listRecordings();
    if (File1->select(fileName)) mnuFileOpen_Click();
}

void frmMain2::mnuFileOpen_Click() {
    if (changed == kTrue && !mayDropContent()) {
        setMousePointer(vbDefault);
        return;
    }
    mci2->setCommand(QStringLiteral("close"));
    mci2->setFileName(recordingsFolder() + QLatin1Char('/') + File1->FileName());
    setMousePointer(vbHourglass);
    mci2->setCommand(QStringLiteral("open"));
    changed = kFalse;
    // A file that has gone since the list was read: the list is read again.
    if (mci2->Error() == mciErrNotAFile) listRecordings();
    setMousePointer(vbDefault);
    if (mci2->Error() != 0) MsgBox(mci2->ErrorMessage(), vbExclamation, kAppTitle, this);
}

// Every call of the journal, missed calls and calls stored since the window opened too.
void frmMain2::mnuExport_Click() {
    exportCallLog(this, {}, {});
}

void frmMain2::mnuCallLog_Click() {
    DefaultForm<frmCallLog>::Show();
}

void frmMain2::File1_Click() {
    const QString name = File1->FileName();
    const int asked = ++m_detailsAsked;
    m_shownCall = 0;
    m_details->show(nullptr);
    txtNote->clear();
    txtNote->setEnabled(false);
    if (name.isEmpty()) return;
    JournalService::instance().ask<std::optional<CallLogRow>>(
        this, [name](Journal& journal) { return journal.recording(name); },
        [this, asked](const std::optional<CallLogRow>& call) {
            if (asked != m_detailsAsked || !call) return;
            m_shownCall = call->id;
            m_details->show(&*call);
            txtNote->setText(call->note);
            txtNote->setEnabled(true);
        });
}

// File names are matched here at once; numbers, names and notes as the journal answers.
void frmMain2::txtSearch_Change() {
    const QString text = txtSearch->text();
    const int asked = ++m_searchAsked;
    if (text.isEmpty()) return File1->showMatching({});
    File1->showMatching(text);
    JournalService::instance().ask<QStringList>(
        this, [text](Journal& journal) { return journal.recordingsMatching(text); },
        [this, asked, text](const QStringList& names) {
            if (asked != m_searchAsked) return;
            File1->showMatching(text, QSet<QString>(names.cbegin(), names.cend()));
        });
}

void frmMain2::txtNote_LostFocus() {
    const qint64 call = m_shownCall;
    const QString note = txtNote->text();
    if (call == 0) return;
    JournalService::instance().write(
        [call, note](Journal& journal) { journal.setNote(call, note); });
}

void frmMain2::journal_Learning(qint64 done, qint64 total) {
    lblLearning->setVisible(done < total);
    lblLearning->setText(QStringLiteral("正在读取录音的信息：%1 / %2，查找先在已读的录音中进行")
                             .arg(done)
                             .arg(total));
}

void frmMain2::Command1_Click() {
    unloadForm(vbFormCode);
}

void frmMain2::Form_QueryUnload(short& Cancel, short UnloadMode) {
    if (changed != kTrue) return;
    // Ending with nobody to ask: the next start stores the recording like a call cut off.
    if (UnloadMode == vbAppTaskManager) {
        mci2->setCommand(QStringLiteral("Keep"));
        changed = kFalse;
        return;
    }
    if (mayDropContent()) {
        mci2->setCommand(QStringLiteral("close"));
        changed = kFalse;
    } else {
        Cancel = 1;
    }
    setMousePointer(vbDefault);
}

// Asks whether to save the recording made in this window before the device lets it go.
// False when it has to stay: the user cancelled, or the save failed.
bool frmMain2::mayDropContent() {
    const int answer = MsgBox(QStringLiteral("需要保存吗？"), vbYesNoCancel + vbQuestion,
                              QStringLiteral("已经有更改！"), this);
    if (answer == vbYes) return saveContent();
    return answer == vbNo;
}

// Leaves the hourglass up after a save that worked: the device is closed next.
bool frmMain2::saveContent() {
    cdlg2.setCancelError(true);
    try {
        cdlg2.ShowSave(this);
    } catch (const DialogCancelled&) {
        return false;
    }
    mci2->setFileName(cdlg2.FileName());
    setMousePointer(vbHourglass);
    mci2->setCommand(QStringLiteral("Save"));
    if (mci2->Error() == 0) return true;
    setMousePointer(vbDefault);
    const QString reason = mci2->ErrorMessage();
    MsgBox(reason.isEmpty() ? QStringLiteral("录音没有保存。")
                            : QStringLiteral("录音没有保存：") + reason,
           vbExclamation, kAppTitle, this);
    return false;
}

void frmMain2::mci2_StatusUpdate() {
    m_display->statusUpdate();
}

void frmMain2::mci2_RecordClick(short&) {
    changed = kTrue;
    // The opened file is copied into the working folder as the recording starts: whether that
    // worked is known once the press is carried out.
    QMetaObject::invokeMethod(this, &frmMain2::tellRecordingNotStarted, Qt::QueuedConnection);
}

void frmMain2::tellRecordingNotStarted() {
    if (mci2->Error() == mciErrNoWorkingFile)
        MsgBox(mci2->ErrorMessage(), vbExclamation, kAppTitle, this);
}

void frmMain2::mci2_StopClick(short&) {
    m_display->stopClick();
}

} // namespace tova
