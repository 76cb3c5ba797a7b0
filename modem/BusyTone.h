#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

struct super_tone_rx_descriptor_s;
struct super_tone_rx_state_s;

namespace tova {

// The tone an exchange plays to the party left on the line after the other has hung up:
// one or two frequencies, on and off in turn.
struct BusyTone {
    int frequency1 = 450;
    int frequency2 = 0; // 0: a single frequency
    int onMs = 350;
    int offMs = 350;

    // "450/350/350" or "480+620/500/500": frequencies in Hz, then the on and off times in ms.
    static std::optional<BusyTone> parse(const QString& text);
};

// Hears the busy tone in 8 kHz audio: three whole cycles of it, each time within a quarter
// of the given on and off times, whatever the level and the line's noise. A steady tone, a
// tone of another rhythm, speech and music do not make it.
class BusyToneDetector {
public:
    explicit BusyToneDetector(const BusyTone& tone);
    ~BusyToneDetector();
    BusyToneDetector(const BusyToneDetector&) = delete;
    BusyToneDetector& operator=(const BusyToneDetector&) = delete;

    // True from the samples on which the third cycle is complete.
    bool hear(const int16_t* samples, int count);
    bool heard() const { return m_heard; }

private:
    static void report(void* self, int code, int level, int delay);
    void gateBlock();

    super_tone_rx_descriptor_s* m_descriptor;
    super_tone_rx_state_s* m_detector;
    int m_busy = -1;
    bool m_heard = false;
    std::vector<int16_t> m_block;
    double m_floor = 1e30; // the energy of the quietest recent block: the line's noise
};

} // namespace tova
