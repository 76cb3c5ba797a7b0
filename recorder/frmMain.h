#pragma once

#include "CommonDialog.h"
#include "Form.h"
#include "PositionDisplay.h"

#include <QTimer>

class QLabel;
class QLineEdit;

namespace tova {

class MMControl;
class Slider;

// The recorder window: records the call by itself and stores it when it closes.
class frmMain : public Form {
    Q_OBJECT
public:
    frmMain();
    ~frmMain() override;

    // True while the device holds a recording that has not been stored.
    bool changed() const { return m_changed; }
    // Its closing check stores the call without asking anything.
    bool storesWithoutAsking() const override { return true; }

    QLabel* lblNow;
    QLabel* Label1;
    QLabel* lblTotal;
    Slider* sld;
    MMControl* mci;
    QLineEdit* Text1;
    CommonDialog cdlg;
    QTimer Timer1;

protected:
    void Form_Load() override;
    void Form_QueryUnload(short& Cancel, short UnloadMode) override;
    void showEvent(QShowEvent* event) override;

private:
    void mci_RecordClick(short& Cancel);
    void mci_StopClick(short& Cancel);
    void mci_StatusUpdate();
    void Timer1_Timer();
    void SaveRecording();

    PositionDisplay m_display;
    // The journal's attempt the call belongs to, for its recording.
    QString m_attempt;
    bool m_changed = false;
    bool m_recordWhenShown = false;
};

} // namespace tova
