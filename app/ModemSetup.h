#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

namespace tova {

class Settings;

// The command lines a modem gets once its port has opened: the user's own set-up line, then
// caller ID on. Each goes after the modem's final result to the one before (OK or ERROR, whole
// lines however the reads split them), or after a time-out; those replies are the set-up's own
// and no answer to a call.
class ModemSetup : public QObject {
    Q_OBJECT
public:
    // Writes one command line; may throw when the port refuses it.
    using Send = std::function<void(const QString&)>;
    // Told what the modem answered to a question ("...=?") before its final result, and whether
    // that result refused the line (ERROR, a failed dial) or none came in time.
    using Answered = std::function<void(const QString& answer, bool refused)>;

    // A reset (ATZ) takes a modem a second or three; one that says nothing for longer is not
    // waited for.
    static constexpr std::chrono::milliseconds kReplyLimit{3000};

    explicit ModemSetup(Send send);

    void start(const Settings& settings);
    // Sends line after those in hand, in the same way; its final result may take limit (a
    // dial's does).
    void queue(const QString& line, Answered answered = {},
               std::chrono::milliseconds limit = kReplyLimit);
    // Takes what the modem sent; true when it holds what the set-up waits for: the echo of the
    // line in hand, its final result, or the late result of a line that timed out.
    bool takeReply(const QString& text);

private:
    struct Step {
        QString line;
        QString ifRefused; // sent in its place when the modem answers ERROR
        Answered answered = {};
        std::chrono::milliseconds limit = kReplyLimit;
        QString answer = {};
    };
    bool takeLine(const QString& line);
    void sendNext();
    void timedOut();
    // The line in hand is done; its fallback goes next when the modem refused it.
    void finish(bool refused, bool answeredRefused);

    Send m_send;
    QList<Step> m_steps;
    bool m_waiting = false; // the first step is out, and its result not in
    // The start of a reply line whose end has not come yet.
    QString m_partial;
    // Lines that timed out: a modem answers in order, so the next final results are theirs,
    // until the echo of a later line shows that the modem has moved on.
    int m_late = 0;
    QTimer m_replyLimit;
    QTimer m_lateLimit;
};

} // namespace tova
