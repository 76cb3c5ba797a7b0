#pragma once

#include "VoiceFormat.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace tova {

// Whether a serial device can be opened now and, when not, why: what the start-up message and
// the port listing tell the user.
class PortDiagnosis {
public:
    enum State { Available, Busy, NoPermission, Missing };
    enum Probe { OpenOnly, AskModem };

    // Opens the device for a moment, unless a live lock file says another program holds it or
    // it is a serial port without a UART. AskModem asks a modem there what it can do, as the
    // main window asks it when it records through the modem.
    explicit PortDiagnosis(const QString& path, Probe probe = OpenOnly);

    State state() const { return m_state; }
    // 可用, 忙, 没有权限 or 不存在; a busy port names the program holding it when that is known;
    // a modem that answered adds 可录音 and its format, or 不能录音.
    QString stateText() const;
    // What stops COM<port> from being used and what to do, in a sentence; empty when nothing
    // does or there is no device.
    QString reason(int port) const;

    // A reason for each of COM3 to COM9 whose device is there and cannot be opened.
    static QStringList unusableModems();

private:
    QString m_path;
    State m_state = Missing;
    QString m_holder; // "ModemManager (进程 812)"
    std::optional<VoiceAbilities> m_voice; // what a modem there answered
};

} // namespace tova
