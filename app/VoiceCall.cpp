#include "VoiceCall.h"

#include "MSComm.h"
#include "ModemSetup.h"
#include "VoiceLine.h"

#include <chrono>

namespace tova {

namespace {

const QString kClassesQuestion = QStringLiteral("AT+FCLASS=?\r");
const QString kFormatsQuestion = QStringLiteral("AT+VSM=?\r");
const QString kLinesQuestion = QStringLiteral("AT+VLS=?\r");
// Many Rockwell/Conexant modems fall back to class 0 at every hang-up.
const QString kVoiceClass = QStringLiteral("AT+FCLASS=8\r");
// The modem's own silence detection off (some accept it and ignore it, some refuse it):
// silence alone never ends a call, callers go quiet.
const QString kNoSilenceDetection = QStringLiteral("AT+VSD=128,0\r");
// Nor may the modem's inactivity timer leave voice mode while nothing is sent to it.
const QString kNoInactivityTimer = QStringLiteral("AT+VIT=0\r");
const QString kReceive = QStringLiteral("AT+VRX\r");

const QByteArray kStop = QByteArrayLiteral("\x10!");
const QByteArray kTripleStop = QByteArrayLiteral("\x10\x10\x10!");
// A modem that has not answered a stop within this gets the next form.
constexpr std::chrono::seconds kStopLimit{2};
// DTR low at least this long hangs up a modem set to &D2.
constexpr std::chrono::milliseconds kDtrDrop{700};
// A voice dial ("ATDT...;") answers once the digits are out, after the dial tone.
constexpr std::chrono::seconds kDialLimit{60};
// After DLE ETX the result (OK or VCON) follows, or on some modems nothing.
constexpr std::chrono::milliseconds kResultLimit{500};

bool holdsLine(const QByteArray& text, const char* word) {
    return text.contains(QByteArray("\n") + word + '\r') ||
           text.startsWith(QByteArray(word) + '\r');
}

} // namespace

VoiceCall::VoiceCall(MSComm& port, ModemSetup& setup)
    : m_port(port)
    , m_setup(setup) {
    m_stopTimer.setSingleShot(true);
    connect(&m_stopTimer, &QTimer::timeout, this, &VoiceCall::stopTimer_Timer);
    connect(&m_port, &MSComm::Batch, this, &VoiceCall::streamed);
}

VoiceCall::~VoiceCall() = default;

void VoiceCall::ask(std::function<void(bool canRecord)> answered) {
    m_abilities = {};
    m_setup.queue(kClassesQuestion, [this, answered](const QString& answer, bool refused) {
        if (!refused) m_abilities.takeClasses(answer);
        if (!m_abilities.voice) return answered(false);
        m_setup.queue(kFormatsQuestion,
                      [this](const QString& answer, bool) { m_abilities.takeFormats(answer); });
        m_setup.queue(kLinesQuestion, [this, answered](const QString& answer, bool refused) {
            if (!refused) m_abilities.takeLineSelections(answer);
            answered(m_abilities.canRecord());
        });
    });
}

void VoiceCall::start(const QString& dialLine) {
    if (m_state != Idle || !canRecord()) return;
    m_state = Starting;
    m_ended = false;
    m_stream = std::make_unique<VoiceStream>(m_abilities.format->coding);
    VoiceLine::instance().open([this] { m_port.readBatch(); });
    // At the speed the stream needs on a real serial line; the modem follows the next AT.
    m_port.setBaudRate(m_abilities.format->portSpeed());
    m_dialLine = dialLine;
    next(0);
}

// Each line after the final result of the one before, made when its turn comes: the answers
// to the questions may still be coming. A refusal ends the start, but for the silence
// detection and the inactivity timer, which some modems do not have.
void VoiceCall::next(int step) {
    if (m_state != Starting) return;
    const QString lines[] = {
        kVoiceClass, QStringLiteral("AT+VSM=%1,8000\r").arg(m_abilities.format->code),
        kNoSilenceDetection, kNoInactivityTimer,
        m_dialLine.isEmpty() ? QStringLiteral("AT+VLS=%1\r").arg(m_abilities.lineSelection)
                             : m_dialLine};
    if (step == int(std::size(lines))) return receive();
    const QString line = lines[step];
    m_setup.queue(
        line,
        [this, line, step](const QString&, bool refused) {
            const bool optional = line == kNoSilenceDetection || line == kNoInactivityTimer;
            if (refused && !optional && m_state == Starting) return fail();
            next(step + 1);
        },
        line == m_dialLine ? kDialLimit : ModemSetup::kReplyLimit);
}

void VoiceCall::receive() {
    m_state = Connecting;
    m_text.clear();
    try {
        // From here what the modem sends is read in batches: CONNECT, then the stream.
        m_port.setStreaming(true);
        m_port.setOutput(kReceive);
    } catch (const SerialPortError&) {
        lost();
    }
}

void VoiceCall::streamed(const QByteArray& bytes) {
    if (m_state == Connecting) {
        m_text += bytes;
        const qsizetype connect = m_text.indexOf("CONNECT");
        const qsizetype start = connect < 0 ? -1 : m_text.indexOf('\n', connect);
        if (start < 0) {
            if (holdsLine(m_text, "ERROR") || holdsLine(m_text, "NO CARRIER")) fail();
            return;
        }
        m_state = Streaming;
        return streamed(m_text.sliced(start + 1));
    }
    if (m_state == Ending) {
        m_text += bytes;
        if (holdsLine(m_text, "OK") || holdsLine(m_text, "VCON")) finish();
        return;
    }
    if (m_state != Streaming && m_state != Stopping) return;
    std::vector<int16_t> samples;
    const VoiceStream::Read read = m_stream->take(bytes, samples);
    VoiceLine::instance().publish(samples);
    for (const char code : read.events) {
        if (code == 'R') emit rang();
        if ((code == 'b' || code == 'd' || code == 'l') && !std::exchange(m_ended, true))
            emit lineEnded();
    }
    if (!read.callerId.isEmpty()) emit callerIdSent(QString::fromLatin1(read.callerId));
    if (!read.ended) return;
    // The modem stopped by itself (its inactivity timer, a DTR drop) or at the stop.
    m_state = Ending;
    m_text = read.after;
    m_stopTimer.start(kResultLimit);
    streamed({});
}

void VoiceCall::hangUp(const QString& hangUpLine) {
    m_hangUpLine = hangUpLine;
    switch (m_state) {
    case Idle:
        return;
    case Starting:
        // The lines queued so far go on; the next one is not sent.
        m_state = Ending;
        return finish();
    case Connecting:
    case Streaming:
        m_state = Stopping;
        m_stopStep = 0;
        return stopTimer_Timer();
    case Stopping:
    case Ending:
        return;
    }
}

void VoiceCall::stopTimer_Timer() {
    if (m_state == Ending) return finish();
    if (m_state != Stopping) return;
    try {
        switch (++m_stopStep) {
        case 1:
            m_port.setOutputBytes(kStop);
            return m_stopTimer.start(kStopLimit);
        case 2:
            m_port.setOutputBytes(kTripleStop);
            return m_stopTimer.start(kStopLimit);
        case 3:
            m_port.setDTREnable(false);
            return m_stopTimer.start(kDtrDrop);
        default:
            m_port.setDTREnable(true);
            return finish();
        }
    } catch (const SerialPortError&) {
        lost();
    }
}

void VoiceCall::finish() {
    m_stopTimer.stop();
    m_port.setStreaming(false);
    m_port.setBaudRate(MSComm::kBaudRate);
    m_state = Idle;
    m_stream.reset();
    if (!m_hangUpLine.isEmpty()) m_setup.queue(std::exchange(m_hangUpLine, {}));
    m_setup.queue(kVoiceClass);
}

void VoiceCall::fail() {
    emit failed();
    VoiceLine::instance().lose();
    if (m_state == Connecting) {
        m_state = Ending;
        finish();
    } else {
        m_state = Idle;
    }
}

void VoiceCall::lost() {
    m_stopTimer.stop();
    m_state = Idle;
    m_stream.reset();
    VoiceLine::instance().lose();
}

} // namespace tova
