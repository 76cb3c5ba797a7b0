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
class RecordingIndex;
class Slider;

// The query window: lists the recordings, shows the selected call, finds calls by number, name
// or file name, exports the call log and plays the chosen recording.
class frmMain2 : public Form {
    Q_OBJECT
public:
    static constexpr short kTrue = -1;
    static constexpr short kFalse = 0;

    frmMain2();
    ~frmMain2() override;

    // kTrue while the device holds a recording made here that is neither saved nor discarded.
    short isChanged() const { return changed; }

protected:
    void Form_Load() override;
    void Form_QueryUnload(short& Cancel, short UnloadMode) override;

private:
    void mnuFileOpen_Click();
    void mnuExport_Click();
    void File1_Click();
    void txtSearch_Change();
    void Command1_Click();
    void mci2_StatusUpdate();
    void mci2_RecordClick(short& Cancel);
    void mci2_StopClick(short& Cancel);

    void listRecordings();
    bool mayDropContent();
    bool saveContent();

    QMenuBar* m_menuBar;
    QAction* mnuFileOpen;
    QAction* mnuExport;
    QWidget* m_client;
    QLabel* lblNow2;
    Slider* sld2;
    QLabel* lblTotal2;
    FileListBox* File1;
    MMControl* mci2;
    QPushButton* Command1;
    QLabel* lblFolderMissing;
    QLineEdit* txtSearch;
    CommonDialog cdlg2;
    std::unique_ptr<PositionDisplay> m_display;
    std::unique_ptr<RecordingIndex> m_index;
    std::unique_ptr<CallDetails> m_details;

    short changed = kFalse;
};

} // namespace tova
