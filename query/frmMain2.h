#pragma once

#include "CommonDialog.h"
#include "Form.h"

#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;

namespace tova {

class CallDetails;
class FileListBox;
class MMControl;
class PositionDisplay;
class Slider;

// The query window: lists the recordings, shows the selected call with its note, finds calls by
// number, name, note or file name, opens the call log, exports it and plays the chosen
// recording. What it knows of the calls comes from the journal, which reads a folder that it
// has not yet indexed while the list is already shown.
class frmMain2 : public Form {
    Q_OBJECT
public:
    static constexpr short kTrue = -1;
    static constexpr short kFalse = 0;

    frmMain2();
    ~frmMain2() override;

    // kTrue while the device holds a recording made here that is neither saved nor discarded.
    short isChanged() const { return changed; }

    // Selects the recording and opens it, ready to play (the call log's double-click).
    void openRecording(const QString& fileName);

protected:
    void Form_Load() override;
    void Form_QueryUnload(short& Cancel, short UnloadMode) override;

private:
    void mnuFileOpen_Click();
    void mnuExport_Click();
    void mnuCallLog_Click();
    void File1_Click();
    void txtSearch_Change();
    void txtNote_LostFocus();
    void journal_Learning(qint64 done, qint64 total);
    void Command1_Click();
    void mci2_StatusUpdate();
    void mci2_RecordClick(short& Cancel);
    void mci2_StopClick(short& Cancel);
    void tellRecordingNotStarted();

    void listRecordings();
    bool mayDropContent();
    bool saveContent();

    QMenuBar* m_menuBar;
    QAction* mnuFileOpen;
    QAction* mnuExport;
    QAction* mnuCallLog;
    QWidget* m_client;
    QLabel* lblNow2;
    Slider* sld2;
    QLabel* lblTotal2;
    FileListBox* File1;
    MMControl* mci2;
    QPushButton* Command1;
    QLabel* lblFolderMissing;
    QLineEdit* txtSearch;
    QLineEdit* txtNote;
    QLabel* lblLearning;
    CommonDialog cdlg2;
    std::unique_ptr<PositionDisplay> m_display;
    std::unique_ptr<CallDetails> m_details;
    // The call shown in the details, and the answers that are still wanted.
    qint64 m_shownCall = 0;
    int m_detailsAsked = 0;
    int m_searchAsked = 0;

    short changed = kFalse;
};

} // namespace tova
