#pragma once

#include <QDateTime>
#include <QString>

namespace tova {

// Who was on the line: what a stored call carries beside its audio.
struct CallInfo {
    QString number;    // the caller's, or the number as dialled
    QString name;      // the caller's name as the network gave it
    QString direction; // kIncoming, kOutgoing or kLocalRecording
    QDateTime start;
    QString ending{}; // kCallUnfinished while it is recorded, then who hung up
};

inline const QString kIncoming = QStringLiteral("呼入");
inline const QString kOutgoing = QStringLiteral("呼出");
inline const QString kLocalRecording = QStringLiteral("录音");
inline const QString kCallUnfinished = QStringLiteral("通话未完");
inline const QString kHungUpHere = QStringLiteral("本方挂机");
inline const QString kHungUpThere = QStringLiteral("对方挂机");
inline const QString kNumberWithheld = QStringLiteral("号码保密");
inline const QString kNumberUnavailable = QStringLiteral("号码不详");

// Caller ID comes from the telephone network: what it says is kept as plain text without
// control characters, and at most kCallerFieldLength characters of it.
constexpr qsizetype kCallerFieldLength = 32;
QString cleanCallerField(const QString& text);

// The call the main window has on the line, for the recorder that it opens to label the
// recording with; empty fields while nothing is known.
CallInfo& currentCall();
// The journal's key of that call's attempt (CallAttempt::key), for the recorder to link its
// recording to; empty while there is none.
QString& currentAttempt();

} // namespace tova
