#include "ModemInput.h"

#include "VoiceLine.h"

namespace tova {

namespace {

class ModemInput final : public AudioInput {
public:
    explicit ModemInput(Client& client)
        : m_client(&client) {
        // The modem unplugged: what came before it stays the call's.
        m_lost = QObject::connect(&VoiceLine::instance(), &VoiceLine::lost, [this] {
            collect();
            if (m_client)
                std::exchange(m_client, nullptr)->inputFailed(QStringLiteral("the modem was lost"));
        });
    }
    ~ModemInput() override { stop(); }

    void collect() override { hand(VoiceLine::instance().take()); }
    void drain() override { hand(VoiceLine::instance().drain()); }
    void stop() override {
        m_client = nullptr;
        QObject::disconnect(m_lost);
    }

private:
    void hand(const QByteArray& pcm) {
        if (m_client && !pcm.isEmpty()) m_client->captured(pcm);
    }

    Client* m_client;
    QMetaObject::Connection m_lost;
};

} // namespace

std::unique_ptr<AudioInput> startModemInput(AudioInput::Client& client) {
    if (!VoiceLine::instance().isOpen()) return nullptr;
    return std::make_unique<ModemInput>(client);
}

} // namespace tova
