#include "VoiceStream.h"

namespace tova {

namespace {

constexpr char kSub = 0x1A;
constexpr char kEtx = 0x03;
constexpr char kCallerIdStart = 'X';
constexpr char kCallerIdEnd = '.';
constexpr qsizetype kCallerIdLimit = 256;

// DTMF digits, ring, busy, dial tone, silence, quiet, handset on and off hook, loop-current
// break, extension, overrun, fax and data calling, answer tones, bong, CAS.
const QByteArray kEvents = QByteArrayLiteral("0123456789*#ABCDRbdsqhHlPoceaf$@");

} // namespace

VoiceStream::VoiceStream(VoiceCoding coding)
    : m_decoder(coding) {}

VoiceStream::Read VoiceStream::take(QByteArrayView bytes, std::vector<int16_t>& samples) {
    Read read;
    if (m_ended) {
        read.after = bytes.toByteArray();
        return read;
    }
    QByteArray data;
    data.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (std::exchange(m_dle, false)) {
            code(c, read, data);
            if (m_ended) {
                read.after = bytes.sliced(i + 1).toByteArray();
                break;
            }
        } else if (c == kDle) {
            m_dle = true;
        } else if (m_inCallerId) {
            m_callerId += c;
            // A packet whose end was lost is no caller ID.
            if (m_callerId.size() > kCallerIdLimit) m_inCallerId = false;
        } else {
            data += c;
        }
    }
    m_decoder.decode(data, samples);
    return read;
}

void VoiceStream::code(char c, Read& read, QByteArray& data) {
    QByteArray& into = m_inCallerId ? m_callerId : data;
    if (c == kDle) {
        into += kDle;
    } else if (c == kSub) {
        into += QByteArray(2, kDle);
    } else if (c == kEtx) {
        read.ended = m_ended = true;
    } else if (c == kCallerIdStart) {
        m_inCallerId = true;
        m_callerId.clear();
    } else if (c == kCallerIdEnd && m_inCallerId) {
        m_inCallerId = false;
        read.callerId = std::exchange(m_callerId, {});
    } else if (kEvents.contains(c)) {
        read.events += c;
    }
    // Any other code is skipped, with its DLE.
}

} // namespace tova
