#include "BusyTone.h"

#include <QRegularExpression>

#include <spandsp.h>

#include <algorithm>
#include <array>
#include <cstdlib>

namespace tova {

namespace {

constexpr int kCycles = 3;
// On and off times are measured in 16 ms blocks and exchanges are not exact.
constexpr double kTolerance = 0.25;
// Frequencies away from any busy tone, so that a tone must stand out from the rest of the
// band, and not merely be loud, to be taken for it.
constexpr std::array kGuards{300, 700, 1000, 1400, 2000};
constexpr int kGuardDistance = 120;
// The detector's blocks. Noise above its fixed threshold in the gaps looks, block by block, like
// a tone of one frequency or another and breaks the gaps up; so blocks not well above the
// line's noise are given to it as silence.
constexpr size_t kBlock = 128;
constexpr double kAboveNoise = 10;          // 10 dB
constexpr double kFloorRisePerBlock = 1.02; // about 5 dB a second, so speech lifts it
constexpr double kQuietest = 1e3;

} // namespace

std::optional<BusyTone> BusyTone::parse(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^\\s*(\\d{3,4})(?:\\+(\\d{3,4}))?/(\\d{2,4})/(\\d{2,4})\\s*$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) return std::nullopt;
    BusyTone tone{m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                  m.captured(4).toInt()};
    const auto audible = [](int hz) { return hz >= 200 && hz <= 3000; };
    if (!audible(tone.frequency1) || (tone.frequency2 && !audible(tone.frequency2)) ||
        tone.onMs < 100 || tone.offMs < 100)
        return std::nullopt;
    return tone;
}

BusyToneDetector::BusyToneDetector(const BusyTone& tone)
    : m_descriptor(super_tone_rx_make_descriptor(nullptr)) {
    m_busy = super_tone_rx_add_tone(m_descriptor);
    const auto span = [](int ms, double by) { return int(ms * by); };
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        super_tone_rx_add_element(m_descriptor, m_busy, tone.frequency1, tone.frequency2,
                                  span(tone.onMs, 1 - kTolerance), span(tone.onMs, 1 + kTolerance));
        super_tone_rx_add_element(m_descriptor, m_busy, 0, 0, span(tone.offMs, 1 - kTolerance),
                                  span(tone.offMs, 1 + kTolerance));
    }
    // The guards make a tone of their own that never completes: a minute of each.
    const int guards = super_tone_rx_add_tone(m_descriptor);
    for (const int hz : kGuards)
        if (std::abs(hz - tone.frequency1) > kGuardDistance &&
            (!tone.frequency2 || std::abs(hz - tone.frequency2) > kGuardDistance))
            super_tone_rx_add_element(m_descriptor, guards, hz, 0, 60000, 0);
    m_detector = super_tone_rx_init(nullptr, m_descriptor, report, this);
}

BusyToneDetector::~BusyToneDetector() {
    super_tone_rx_free(m_detector);
    super_tone_rx_free_descriptor(m_descriptor);
}

bool BusyToneDetector::hear(const int16_t* samples, int count) {
    for (int i = 0; i < count && !m_heard; ++i) {
        m_block.push_back(samples[i]);
        if (m_block.size() == kBlock) gateBlock();
    }
    return m_heard;
}

void BusyToneDetector::gateBlock() {
    double energy = 0;
    for (const int16_t s : m_block)
        energy += double(s) * s;
    m_floor = std::max(kQuietest, std::min(m_floor * kFloorRisePerBlock, energy));
    if (energy < m_floor * kAboveNoise) std::fill(m_block.begin(), m_block.end(), 0);
    super_tone_rx(m_detector, m_block.data(), int(kBlock));
    m_block.clear();
}

void BusyToneDetector::report(void* data, int code, int, int) {
    auto* self = static_cast<BusyToneDetector*>(data);
    if (code == self->m_busy) self->m_heard = true;
}

} // namespace tova
