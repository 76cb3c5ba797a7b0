#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace tova {

// How a voice modem codes its samples, in the order a call is best recorded in.
enum class VoiceCoding { Linear16, MuLaw, ALaw, Pcm14, Linear8Signed, Linear8Unsigned, ImaAdpcm };

// One sample format of AT+VSM=?.
struct VoiceFormat {
    int code = -1; // what AT+VSM= selects it by; the numbers differ between makers
    QString name;  // as the modem names it
    VoiceCoding coding = VoiceCoding::Linear16;

    int bytesPerSecond() const;
    // The serial speed that carries the stream, with room for a fast clock and DLE codes.
    int portSpeed() const;
    bool operator==(const VoiceFormat&) const = default;
};

// What a modem answered to AT+FCLASS=?, AT+VSM=? and AT+VLS=?. The answers are the text
// between the command and its final result; an echo and the result lines are ignored.
struct VoiceAbilities {
    bool voice = false;                // class 8 offered
    std::optional<VoiceFormat> format; // the best one offered at 8000 samples a second
    int lineSelection = 1;             // what AT+VLS= takes the line off-hook with

    bool canRecord() const { return voice && format.has_value(); }
    void takeClasses(const QString& answer);
    void takeFormats(const QString& answer);
    void takeLineSelections(const QString& answer);
};

// The formats of an AT+VSM=? answer that this program decodes and that offer 8000 samples a
// second, in the modem's order. Takes the long (Conexant), short (U.S. Robotics) and
// semicolon (ZyXEL) styles.
QList<VoiceFormat> voiceFormats(const QString& answer);
// Chosen by name, never by number: 16-bit linear, then µ-law, A-law, the 14-bit and 8-bit
// linear formats, IMA ADPCM last.
std::optional<VoiceFormat> bestVoiceFormat(const QList<VoiceFormat>& formats);

} // namespace tova
