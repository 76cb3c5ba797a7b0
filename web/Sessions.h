#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace tova {

using SteadyTime = std::chrono::steady_clock::time_point;

// The logged-in browsers: each session a random token (the cookie) with a CSRF token of its
// own, ending kSessionLifetime after the login or at logout. Shared by the server's threads.
class Sessions {
public:
    static constexpr std::chrono::hours kSessionLifetime{12};

    // A new session's cookie token.
    QByteArray open(SteadyTime now);
    // The CSRF token of the session, nothing when the token names none that is still valid.
    std::optional<QByteArray> csrfToken(const QByteArray& token, SteadyTime now);
    void close(const QByteArray& token);

private:
    struct Session {
        QByteArray csrf;
        SteadyTime ends;
    };
    std::mutex m_mutex;
    QHash<QByteArray, Session> m_sessions;
};

// How long a login from an address waits after its nth wrong password in a row: 1 s, doubled
// for each one more, at most a minute.
std::chrono::milliseconds failureDelay(int failures);

// Logins from one address one at a time, each after the delay its failures earned; the failing
// answer itself comes after the delay.
class LoginThrottle {
public:
    // Runs check for a login attempt from the address and returns its result; false also when
    // the server stops during the wait.
    template <typename Check> bool attempt(const QString& address, Check check);
    // Wakes every waiting attempt to give up.
    void stop();

private:
    struct Gate {
        std::mutex mutex;
        int failures = 0;
        SteadyTime notBefore;
    };
    std::shared_ptr<Gate> gate(const QString& address);
    bool waitUntil(SteadyTime until);
    void failed(Gate& gate, const QString& address);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    QHash<QString, std::shared_ptr<Gate>> m_gates;
};

template <typename Check> bool LoginThrottle::attempt(const QString& address, Check check) {
    const std::shared_ptr<Gate> gate = this->gate(address);
    std::unique_lock lock(gate->mutex);
    if (!waitUntil(gate->notBefore)) return false;
    if (check()) {
        gate->failures = 0;
        return true;
    }
    failed(*gate, address);
    waitUntil(gate->notBefore);
    return false;
}

// Random bytes as lower-case hexadecimal, for tokens.
QByteArray randomToken();

} // namespace tova
