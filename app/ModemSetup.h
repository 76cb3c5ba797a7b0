#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

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

    explicit ModemSetup(Send send);

    void start(const Settings& settings);
    // Takes what the modem sent; true when it holds what the set-up waits for: the echo of the
    // line in hand, its final result, or the late result of a line that timed out.
    bool takeReply(const QString& text);

private:
    struct Step {
        QString line;
        QString ifRefused; // sent in its place when the modem answers ERROR
    };
    bool takeLine(const QString& line);
    void sendNext();
    void timedOut();

    Send m_send;
    QList<Step> m_steps;
    // The start of a reply line whose end has not come yet.
    QString m_partial;
    // Lines that timed out: a modem answers in order, so the next final results are theirs,
    // until the echo of a later line shows that the modem has moved on.
    int m_late = 0;
    QTimer m_replyLimit;
    QTimer m_lateLimit;
};

} // namespace tova
