#pragma once

#include "CommonDialog.h"
#include "Form.h"

#include <memory>

class QAction;
class QLabel;
class QMenuBar;
class QPushButton;

namespace tova {

class FileListBox;
class MMControl;
class PositionDisplay;
class Slider;

// The query window: lists the recordings and plays the chosen one.
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
    void Command1_Click();
    void mci2_StatusUpdate();
    void mci2_RecordClick(short& Cancel);
    void mci2_StopClick(short& Cancel);

    bool mayDropContent();
    bool saveContent();

    QMenuBar* m_menuBar;
    QAction* mnuFileOpen;
    QWidget* m_client;
    QLabel* lblNow2;
    Slider* sld2;
    QLabel* lblTotal2;
    FileListBox* File1;
    MMControl* mci2;
    QPushButton* Command1;
    QLabel* lblFolderMissing;
    CommonDialog cdlg2;
    std::unique_ptr<PositionDisplay> m_display;

    short changed = kFalse;
};

} // namespace tova
