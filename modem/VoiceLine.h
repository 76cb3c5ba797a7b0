#pragma once

#include <QByteArray>
#include <QObject>

#include <cstdint>
#include <functional>
#include <vector>

namespace tova {

// The telephone line where the main window and the recorder meet without touching each
// other: the main window's modem publishes the samples of a call it streams, the recorder's
// input takes them; and what the recorder hears of the line (the far end hanging up) reaches
// the main window from here.
class VoiceLine : public QObject {
    Q_OBJECT
public:
    static VoiceLine& instance();

    // The main window's side. While open, the call's recording comes from here.
    void open(std::function<void()> drain);
    void publish(const std::vector<int16_t>& samples);
    // The modem went away mid-stream: what was published stays to be taken.
    void lose();
    void close();
    bool isOpen() const { return m_open; }

    // The recorder's side: 16-bit samples published since the last take.
    QByteArray take() { return std::exchange(m_pending, {}); }
    // Brings in now what the modem has sent and not yet been read, then takes it all.
    QByteArray drain();
    // The busy tone, heard in the call's audio.
    void farEndHungUp() { emit hungUp(); }

signals:
    void lost();
    void hungUp();

private:
    bool m_open = false;
    QByteArray m_pending;
    std::function<void()> m_drain;
};

} // namespace tova
