#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace tova {

class Settings;

// The command lines a modem gets once its port has opened: the user's own set-up line, then
// caller ID on. Each goes after the modem's reply to the one before; those replies are the
// set-up's own and no answer to a call.
class ModemSetup : public QObject {
    Q_OBJECT
public:
    // Writes one command line; may throw when the port refuses it.
    using Send = std::function<void(const QString&)>;

    explicit ModemSetup(Send send);

    void start(const Settings& settings);
    // True when text is the reply to the line in hand, which it then answers.
    bool takeReply(const QString& text);

private:
    struct Step {
        QString line;
        QString ifRefused; // sent in its place when the modem answers ERROR
    };
    void sendNext();

    Send m_send;
    QList<Step> m_steps;
    QTimer m_replyLimit;
};

} // namespace tova
