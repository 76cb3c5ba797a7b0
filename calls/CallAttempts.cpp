#include "CallAttempts.h"

#include "JournalService.h"
#include "RegionalClock.h"

namespace tova {

namespace {
QDateTime now() {
    return ClockSeam::get().now();
}
} // namespace

CallAttempts::CallAttempts(Save save, QObject* parent)
    : QObject(parent)
    , m_save(save ? std::move(save) : [](const CallAttempt& attempt) {
        JournalService::instance().saveAttempt(attempt);
    }) {
    m_ringsStopped.setSingleShot(true);
    m_ringsStopped.setInterval(kRingsStopped);
    connect(&m_ringsStopped, &QTimer::timeout, this, &CallAttempts::ringsStopped);
}

CallAttempts::~CallAttempts() {
    if (m_current.direction != kMissed) return;
    m_current.ended = now();
    save();
}

void CallAttempts::begin(const QString& direction) {
    // Another attempt that still rings has rung out.
    if (m_ringsStopped.isActive()) {
        m_ringsStopped.stop();
        ringsStopped();
    }
    m_current = {newAttemptKey(), direction, {}, {}, now(), {}, {}, {}, 0};
}

void CallAttempts::ring() {
    if (m_current.key.isEmpty()) begin(kMissed);
    m_current.lastRing = now();
    ++m_current.rings;
    if (m_current.direction == kMissed) m_ringsStopped.start();
    save();
}

void CallAttempts::callerId(const QString& number, const QString& name) {
    if (m_current.key.isEmpty()) {
        begin(kMissed);
        m_ringsStopped.start();
    }
    m_current.number = number;
    m_current.name = name;
    save();
}

void CallAttempts::answered() {
    m_ringsStopped.stop();
    if (m_current.key.isEmpty()) begin(kIncoming);
    m_current.direction = kIncoming;
    m_current.connected = now();
    save();
}

void CallAttempts::dialled(const QString& number) {
    begin(kOutgoing);
    m_current.number = number;
    m_current.connected = m_current.start;
    save();
}

void CallAttempts::hungUp() {
    if (m_current.key.isEmpty()) return;
    m_ringsStopped.stop();
    m_current.ended = now();
    save();
    m_current = {};
}

void CallAttempts::ringsStopped() {
    if (m_current.direction != kMissed) return;
    const QDateTime lastRing = m_current.lastRing.isValid() ? m_current.lastRing : m_current.start;
    m_current.ended = lastRing.addSecs(kRingsStopped.count());
    save();
    emit missed(std::exchange(m_current, {}));
}

void CallAttempts::save() {
    m_save(m_current);
}

} // namespace tova
