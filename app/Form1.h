#pragma once

#include "CallAttempts.h"
#include "CallerId.h"
#include "Form.h"
#include "MSComm.h"
#include "ModemSetup.h"
#include "VoiceCall.h"

#include <QPoint>
#include <QTimer>

#include <functional>
#include <utility>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tova {

// The main window: finds the modem, drives the line and opens the other windows.
class Form1 : public Form {
    Q_OBJECT
public:
    // The product's game channel, opened by Command7.
    static const QString kGameChannelUrl;

    Form1();

    MSComm MSComm1;

    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command5;
    QPushButton* Command7;
    QLineEdit* Text1;
    QLineEdit* Text7;
    QLineEdit* Text8;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Image1;
    // Who calls, while the phone rings and through the call answered; whom a dial calls.
    QLabel* lblCaller;
    // "未接来电：N", shown while N > 0; a click opens the call log on the missed calls.
    QPushButton* cmdMissed;
    QTimer* Timer1;
    QTimer* Timer2;

    // Filled by every tick of Timer2.
    QPoint CursorPos;

    void MSComm1_OnComm();
    void Timer1_Timer();
    void Timer2_Timer();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command7_Click();
    void cmdMissed_Click();

protected:
    void Form_Load() override;
    void Form_Unload(short& Cancel) override;

private:
    void createControls();
    void connectHandlers();
    // Opens the first of COM<first> to COM<last> that opens; false when none does.
    bool openModemPort(short first, short last);
    // Tries those ports again every little while until one opens.
    void watchForModem(short first, short last);
    void modemWatch_Timer();
    void modemOpened();
    void showCaller(const QString& prefix, const QString& number, const QString& name);
    void takeRingsAndReport(const QString& reply);
    void attempts_Missed();
    void journal_MissedCount(int count);
    void forgetCaller();
    // What 挂断电话 does, also when the line says the call is over (byItself): status goes to
    // Label4 and ending to the call's tags.
    void hangUp(const QString& status, const QString& ending, bool byItself);
    void lineEnded();
    // Runs the writes of one command; when the port refuses, tells the user and returns false.
    bool writeToModem(const std::function<void()>& write);
    // The same without the message: what it would say, or nothing when the line took it.
    QString tryWrite(const std::function<void()>& write);
    // Starts a program or opens a document; "IEXPLORE" is the user's default browser here.
    bool FileOpen(const QString& StrURL, const QString& ExeParameters);

    QTimer m_modemWatch;
    CallerIdReader m_callerId;
    CallAttempts m_attempts;
    ModemSetup m_setup;
    // Records the call through the modem itself, with [audio] source=modem.
    VoiceCall m_voice;
    bool m_toldNoVoice = false;
    std::pair<short, short> m_watchedPorts;
    // Answered or dialled and not hung up since.
    bool m_callUp = false;
};

} // namespace tova
