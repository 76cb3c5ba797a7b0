#include "Sessions.h"

#include <cstdio>

#include <sodium.h>

namespace tova {

namespace {

constexpr int kTokenBytes = 32;
constexpr std::chrono::seconds kFirstDelay{1};
constexpr std::chrono::seconds kLongestDelay{60};
constexpr qsizetype kRememberedAddresses = 1024;

} // namespace

QByteArray randomToken() {
    unsigned char bytes[kTokenBytes];
    randombytes_buf(bytes, sizeof bytes);
    return QByteArray(reinterpret_cast<char*>(bytes), sizeof bytes).toHex();
}

QByteArray Sessions::open(SteadyTime now) {
    const QByteArray token = randomToken();
    std::lock_guard lock(m_mutex);
    m_sessions.removeIf([now](const auto& session) { return session.value().ends <= now; });
    m_sessions.insert(token, {randomToken(), now + kSessionLifetime});
    return token;
}

std::optional<QByteArray> Sessions::csrfToken(const QByteArray& token, SteadyTime now) {
    std::lock_guard lock(m_mutex);
    const auto session = m_sessions.constFind(token);
    if (session == m_sessions.cend() || session->ends <= now) return std::nullopt;
    return session->csrf;
}

void Sessions::close(const QByteArray& token) {
    std::lock_guard lock(m_mutex);
    m_sessions.remove(token);
}

std::chrono::milliseconds failureDelay(int failures) {
    if (failures <= 0) return {};
    const std::chrono::milliseconds delay = kFirstDelay * (1LL << std::min(failures - 1, 16));
    return std::min<std::chrono::milliseconds>(delay, kLongestDelay);
}

std::shared_ptr<LoginThrottle::Gate> LoginThrottle::gate(const QString& address) {
    std::lock_guard lock(m_mutex);
    // Addresses without a wait of their own and no attempt under way are forgotten.
    if (m_gates.size() > kRememberedAddresses) {
        const SteadyTime now = std::chrono::steady_clock::now();
        m_gates.removeIf([now](const auto& entry) {
            return entry.value().use_count() == 1 && entry.value()->notBefore <= now;
        });
    }
    std::shared_ptr<Gate>& gate = m_gates[address];
    if (!gate) gate = std::make_shared<Gate>();
    return gate;
}

bool LoginThrottle::waitUntil(SteadyTime until) {
    // The attempt keeps its address's gate meanwhile: the next one from there waits behind it.
    std::unique_lock lock(m_mutex);
    m_wake.wait_until(lock, until, [this] { return m_stopping; });
    return !m_stopping;
}

void LoginThrottle::failed(Gate& gate, const QString& address) {
    ++gate.failures;
    const auto delay = failureDelay(gate.failures);
    gate.notBefore = std::chrono::steady_clock::now() + delay;
    std::fprintf(
        stderr, "%s\n",
        QStringLiteral("tova-recorder: 网页登录密码错误：来自 %1，连续第 %2 次，%3 秒后才能再试。")
            .arg(address)
            .arg(gate.failures)
            .arg(delay.count() / 1000.0)
            .toUtf8()
            .constData());
}

void LoginThrottle::stop() {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    m_wake.notify_all();
}

} // namespace tova
