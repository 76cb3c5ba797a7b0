#include "SampleDecoder.h"

#include <spandsp.h>

namespace tova {

namespace {

// Within one call the modem's ADPCM runs on without a header and without resets.
constexpr int kNoChunks = 1 << 30;

} // namespace

SampleDecoder::SampleDecoder(VoiceCoding coding)
    : m_coding(coding) {
    if (coding == VoiceCoding::MuLaw || coding == VoiceCoding::ALaw)
        m_g711 = g711_init(nullptr, coding == VoiceCoding::MuLaw ? G711_ULAW : G711_ALAW);
    // Two samples a byte, the earlier one in the high nibble (the DVI order).
    if (coding == VoiceCoding::ImaAdpcm) m_ima = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, kNoChunks);
}

SampleDecoder::~SampleDecoder() {
    if (m_g711) g711_free(m_g711);
    if (m_ima) ima_adpcm_free(m_ima);
}

void SampleDecoder::decode(QByteArrayView bytes, std::vector<int16_t>& samples) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const int count = int(bytes.size());
    const size_t at = samples.size();
    switch (m_coding) {
    case VoiceCoding::MuLaw:
    case VoiceCoding::ALaw:
        samples.resize(at + size_t(count));
        g711_decode(m_g711, samples.data() + at, data, count);
        return;
    case VoiceCoding::ImaAdpcm:
        samples.resize(at + 2 * size_t(count));
        ima_adpcm_decode(m_ima, samples.data() + at, data, count);
        return;
    case VoiceCoding::Linear8Signed:
    case VoiceCoding::Linear8Unsigned: {
        const int offset = m_coding == VoiceCoding::Linear8Unsigned ? 128 : 0;
        samples.reserve(at + size_t(count));
        for (int i = 0; i < count; ++i)
            samples.push_back(int16_t(int8_t(uint8_t(data[i] - offset)) * 256));
        return;
    }
    case VoiceCoding::Linear16:
    case VoiceCoding::Pcm14:
        // Two's complement, low byte first; 14-bit samples stand in the high bits of the word.
        samples.reserve(at + size_t(count + 1) / 2);
        for (int i = 0; i < count; ++i) {
            if (m_low < 0) {
                m_low = data[i];
                continue;
            }
            samples.push_back(int16_t(uint16_t(m_low | data[i] << 8)));
            m_low = -1;
        }
        return;
    }
}

} // namespace tova
