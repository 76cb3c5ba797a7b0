#pragma once

#include "VoiceFormat.h"

#include <QByteArrayView>

#include <cstdint>
#include <vector>

struct g711_state_s;
struct ima_adpcm_state_s;

namespace tova {

// Turns a modem's sample bytes, with the DLE codes already taken out, into 16-bit samples.
// Bytes come in pieces of any size: a sample split between two pieces is whole in the next.
class SampleDecoder {
public:
    explicit SampleDecoder(VoiceCoding coding);
    ~SampleDecoder();
    SampleDecoder(const SampleDecoder&) = delete;
    SampleDecoder& operator=(const SampleDecoder&) = delete;

    void decode(QByteArrayView bytes, std::vector<int16_t>& samples);

private:
    VoiceCoding m_coding;
    g711_state_s* m_g711 = nullptr;
    ima_adpcm_state_s* m_ima = nullptr;
    int m_low = -1; // the first byte of a two-byte sample, while its second has not come
};

} // namespace tova
