#pragma once

#include "VoiceFormat.h"
#include "VoiceStream.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace tova {

class MSComm;
class ModemSetup;

// A call recorded through the voice modem: the questions when the port opens, the voice-mode
// lines of an answer or a dial, the sample stream while the call is up, and its stopping. The
// lines go through the modem's set-up sequence, each after the final result of the one before;
// while the modem streams, nothing but the stop sequence is written to it.
class VoiceCall : public QObject {
    Q_OBJECT
public:
    VoiceCall(MSComm& port, ModemSetup& setup);
    ~VoiceCall() override;

    // Asks the modem on the port just opened what it can do (AT+FCLASS=?, AT+VSM=?, AT+VLS=?);
    // answered is told whether it can record.
    void ask(std::function<void(bool canRecord)> answered);
    bool canRecord() const { return m_abilities.canRecord(); }

    // Takes the line off-hook in voice mode, or dials with dialLine, then receives: the call's
    // samples go out on the VoiceLine.
    void start(const QString& dialLine = {});
    bool isUp() const { return m_state != Idle; }
    // Stops the stream (DLE !, then DLE DLE DLE ! after 2 s, then a DTR drop), hangs up with
    // hangUpLine and leaves the modem in the voice class for the next call.
    void hangUp(const QString& hangUpLine);
    // The port has gone.
    void lost();

signals:
    // Busy tone, dial tone or loop-current break: the other party has hung up.
    void lineEnded();
    void rang();
    void callerIdSent(const QString& report);
    // A voice line was refused or no stream came: nothing is recorded.
    void failed();

private:
    enum State { Idle, Starting, Connecting, Streaming, Stopping, Ending };
    void next(int step);
    void receive();
    void streamed(const QByteArray& bytes);
    void stopTimer_Timer();
    void finish();
    void fail();

    MSComm& m_port;
    ModemSetup& m_setup;
    VoiceAbilities m_abilities;
    State m_state = Idle;
    std::unique_ptr<VoiceStream> m_stream;
    QByteArray m_text;  // replies while no samples flow: before CONNECT, after DLE ETX
    QString m_dialLine; // empty for an answer
    QString m_hangUpLine;
    int m_stopStep = 0; // 1: DLE ! sent, 2: the triple form, 3: DTR dropped
    bool m_ended = false;
    QTimer m_stopTimer;
};

} // namespace tova
