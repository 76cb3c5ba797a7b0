#include "VoiceLine.h"

namespace tova {

VoiceLine& VoiceLine::instance() {
    static VoiceLine line;
    return line;
}

void VoiceLine::open(std::function<void()> drain) {
    m_pending.clear();
    m_drain = std::move(drain);
    m_open = true;
}

void VoiceLine::publish(const std::vector<int16_t>& samples) {
    if (m_open)
        m_pending.append(reinterpret_cast<const char*>(samples.data()),
                         qsizetype(samples.size() * sizeof(int16_t)));
}

void VoiceLine::lose() {
    m_drain = nullptr;
    emit lost();
}

void VoiceLine::close() {
    m_open = false;
    m_drain = nullptr;
    m_pending.clear();
}

QByteArray VoiceLine::drain() {
    if (m_drain) m_drain();
    return take();
}

} // namespace tova
