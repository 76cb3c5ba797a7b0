#include "frmMain2.h"

#include "AppInfo.h"
#include "CallDetails.h"
#include "CallLog.h"
#include "FileListBox.h"
#include "MMControl.h"
#include "MessageBoxes.h"
#include "PositionDisplay.h"
#include "RecordingIndex.h"
#include "RecordingSearch.h"
#include "Slider.h"
#include "Twips.h"
#include "WaveDevice.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

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
};

constexpr const char* kCaptions[] = {"lblSearch",           "lblNumberCaption", "lblNameCaption",
                                     "lblDirectionCaption", "lblStartCaption",  "lblLengthCaption"};
// In the order CallDetails takes them.
constexpr const char* kDetails[] = {"lblNumber", "lblName", "lblDirection", "lblStart",
                                    "lblLength"};

constexpr const char* kTabOrder[] = {"mci2", "File1", "sld2", "Command1", "txtSearch"};

const QString kCallLogFilter = QStringLiteral("*.csv");

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
    , m_display(std::make_unique<PositionDisplay>(*mci2, *lblNow2, *lblTotal2, *sld2))
    , m_index(std::make_unique<RecordingIndex>(recordingsFolder())) {
    setWindowTitle(QStringLiteral("欢迎进入语音查询"));

    mnuFileOpen = m_menuBar->addAction(QStringLiteral("打开语音文件"));
    mnuFileOpen->setObjectName(QStringLiteral("mnuFileOpen"));
    mnuExport = m_menuBar->addAction(QStringLiteral("导出通话记录…"));
    mnuExport->setObjectName(QStringLiteral("mnuExport"));

    for (const char* name : kCaptions)
        named(new QLabel(m_client), name);
    QList<QLabel*> details;
    for (const char* name : kDetails)
        details.append(named(new QLabel(m_client), name));
    m_details = std::make_unique<CallDetails>(details);
    txtSearch->setPlaceholderText(QStringLiteral("号码、姓名或文件名"));
    txtSearch->setClearButtonEnabled(true);

    applyDesign(m_client, kDesign);
    applyTabOrder(m_client, kTabOrder);
    lblFolderMissing->setWordWrap(true);
    lblFolderMissing->hide();

    mci2->setDeviceType(QStringLiteral("WAVEAudio"));
    mci2->setFileName(QString()); // a new recording, until a file is opened
    mci2->setButtonVisible(MciButton::Eject, false);

    cdlg2.setFilter(QStringLiteral("*.wav"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(m_menuBar);
    layout->addWidget(m_client);
    m_client->setFixedSize(kClientSize);
    placeAtScreenOrigin(
        {kClientSize.width(), kClientSize.height() + m_menuBar->sizeHint().height()});

    connect(mnuFileOpen, &QAction::triggered, this, &frmMain2::mnuFileOpen_Click);
    connect(mnuExport, &QAction::triggered, this, &frmMain2::mnuExport_Click);
    connect(File1, &FileListBox::itemSelectionChanged, this, &frmMain2::File1_Click);
    connect(txtSearch, &QLineEdit::textChanged, this, &frmMain2::txtSearch_Change);
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
}

void frmMain2::listRecordings() {
    const bool listed = File1->setPath(recordingsFolder());
    if (!listed)
        lblFolderMissing->setText(QStringLiteral("找不到录音文件夹：") +
                                  QDir::toNativeSeparators(recordingsFolder()));
    lblFolderMissing->setVisible(!listed);
    m_index->refresh();
    txtSearch_Change();
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

// Calls stored since the window opened are in the log too, though not in the list.
void frmMain2::mnuExport_Click() {
    const QString path = FileDialogSeam::get().saveFileName(this, kCallLogFilter);
    if (path.isEmpty()) return;
    setMousePointer(vbHourglass);
    m_index->refresh();
    QString error;
    const bool saved = saveCallLog(path, m_index->recordings(), error);
    setMousePointer(vbDefault);
    if (!saved)
        MsgBox(QStringLiteral("通话记录没有导出：") + error, vbExclamation, kAppTitle, this);
}

void frmMain2::File1_Click() {
    m_details->show(m_index->find(File1->FileName()));
}

void frmMain2::txtSearch_Change() {
    File1->showOnly(RecordingSearch(*m_index, txtSearch->text()));
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
}

void frmMain2::mci2_StopClick(short&) {
    m_display->stopClick();
}

} // namespace tova
