#pragma once

#include "SampleDecoder.h"

#include <QByteArray>

#include <vector>

namespace tova {

// The stream a voice modem sends after AT+VRX: every byte is sample data, except DLE (0x10)
// and the code that follows it. Bytes come in reads of any size, and a DLE and its code may
// come in two of them.
class VoiceStream {
public:
    static constexpr char kDle = 0x10;

    // What one read held besides its samples.
    struct Read {
        QByteArray events;   // the codes of the DLE events, in order: 'b', 'R', '5' ...
        QByteArray callerId; // the text of a caller-ID packet (DLE X ... DLE .), when one ended
        bool ended = false;  // DLE ETX: the modem is back in command state
        QByteArray after;    // what came after DLE ETX: the modem's result line
    };

    explicit VoiceStream(VoiceCoding coding);

    // Appends the samples of bytes to samples. After the end, bytes are all text.
    Read take(QByteArrayView bytes, std::vector<int16_t>& samples);

private:
    void code(char c, Read& read, QByteArray& data);

    SampleDecoder m_decoder;
    bool m_dle = false;
    bool m_inCallerId = false;
    bool m_ended = false;
    QByteArray m_callerId;
};

} // namespace tova
