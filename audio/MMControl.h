#pragma once

#include "CallInfo.h"
#include "MciMode.h"

#include <QWidget>

#include <array>
#include <chrono>
#include <memory>

class QPushButton;
class QTimer;

namespace tova {

class WaveDevice;

// A multiple of the windows' 100 ms timers, so that both share one wake-up.
constexpr std::chrono::milliseconds kStatusInterval{200};

// The buttons of the bar, left to right.
enum class MciButton { Prev, Next, Play, Pause, Back, Step, Stop, Record, Eject };
constexpr int kMciButtonCount = 9;

// The multimedia device component: a bar of push buttons over a wave-audio device.
// No member throws: a command that fails leaves its reason in Error and ErrorMessage.
class MMControl : public QWidget {
    Q_OBJECT
public:
    explicit MMControl(QWidget* parent = nullptr);
    ~MMControl() override;

    QString DeviceType() const;
    void setDeviceType(const QString& type);
    QString FileName() const;
    void setFileName(const QString& fileName);
    // Who is on the line, for the tags of the next new recording.
    void setCallInfo(const CallInfo& call);

    // Carries out a device command at once, in any letter case: "Open", "close", "Save",
    // "Play", "Pause", "Stop", "Record", "Prev", "Next", "Back", "Step", "Eject"; and "Sync"
    // (what was recorded reaches the disk) and "Keep" (closes, leaving the recording's working
    // file for the next start to recover).
    void setCommand(const QString& command);

    int Mode() const;
    int Position() const; // milliseconds
    int Length() const;   // milliseconds
    int UpdateInterval() const;
    void setUpdateInterval(int milliseconds);
    // 1: recording overwrites from the current position, extending past the end.
    int RecordMode() const;
    void setRecordMode(int mode);
    // 0 and empty after a command that worked.
    int Error() const;
    QString ErrorMessage() const;
    // Why the last recording could not start or stopped by itself; 0 once one starts.
    int RecordFault() const;

    // Hides or shows one button; the shown buttons share the bar's width equally.
    void setButtonVisible(MciButton button, bool visible);
    bool isButtonEnabled(MciButton button) const;

    // What a click on the button does: raises its click notification (RecordClick,
    // StopClick) and, unless cancelled, carries out its command. Nothing while disabled.
    void press(MciButton button);

signals:
    void StatusUpdate();
    void RecordClick(short& Cancel);
    void StopClick(short& Cancel);

public:
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void updateButtons();
    void layoutButtons();
    void carryOut(const QString& command);

    std::unique_ptr<WaveDevice> m_device;
    std::array<QPushButton*, kMciButtonCount> m_buttons{};
    QTimer* m_statusTimer;
    QString m_deviceType;
    QString m_fileName;
    int m_recordMode = 1;
};

} // namespace tova
