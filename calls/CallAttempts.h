#pragma once

#include "Journal.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace tova {

// The call attempts of the line, from what the main window sees: every ring sequence is one
// (its start, its rings, the caller ID report that came with them, and whether it was
// answered or rang out: no RING for kRingsStopped), every dial one. Each change goes to the
// journal at once, so that an attempt shown is never lost.
class CallAttempts : public QObject {
    Q_OBJECT
public:
    using Save = std::function<void(const CallAttempt&)>;
    // Saves through the journal's service unless told otherwise.
    explicit CallAttempts(Save save = {}, QObject* parent = nullptr);
    // An attempt that still rings is missed: nobody is left to answer it.
    ~CallAttempts() override;

    void ring();
    // A caller ID report; one that comes before the first ring begins the attempt.
    void callerId(const QString& number, const QString& name);
    void answered();
    void dialled(const QString& number);
    void hungUp();

    // The attempt ringing or on the line; an empty key when none.
    const CallAttempt& current() const { return m_current; }

signals:
    // The rings stopped without an answer: the attempt is a missed call.
    void missed(const CallAttempt& attempt);

private:
    void begin(const QString& direction);
    void ringsStopped();
    void save();

    Save m_save;
    CallAttempt m_current;
    QTimer m_ringsStopped;
};

} // namespace tova
