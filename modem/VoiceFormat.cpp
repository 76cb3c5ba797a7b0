#include "VoiceFormat.h"

#include <QRegularExpression>

#include <algorithm>

namespace tova {

namespace {

constexpr int kRate = 8000;
const QRegularExpression kNamePrefix(QStringLiteral("^\\+[A-Z]+:\\s*"));

// The lines of an answer that carry it: no echo of the command, no final result.
QStringList answerLines(const QString& answer) {
    QStringList lines;
    for (const QString& raw : answer.split(QRegularExpression(QStringLiteral("[\r\n]+")))) {
        // Some modems put the command's name ahead: "+FCLASS: 0,1,8".
        const QString line = raw.trimmed().remove(kNamePrefix);
        if (line.isEmpty() || line.startsWith(QLatin1String("AT"), Qt::CaseInsensitive) ||
            line == u"OK" || line == u"ERROR" || line == u"VCON")
            continue;
        lines << line;
    }
    return lines;
}

// "0,1,(3-5),8" or "0-2": whether value is among the numbers and ranges of the text.
bool listHolds(const QString& text, int value) {
    static const QRegularExpression item(QStringLiteral("(\\d+(?:\\.\\d+)?)(?:\\s*-\\s*(\\d+))?"));
    for (auto it = item.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(1).contains(u'.')) continue; // fax classes 1.0, 2.0
        const int low = m.captured(1).toInt();
        const int high = m.captured(2).isEmpty() ? low : m.captured(2).toInt();
        if (low <= value && value <= high) return true;
    }
    return false;
}

// The fields of a line, split at commas or semicolons outside quotes and parentheses.
QStringList fields(const QString& line) {
    QStringList out{QString()};
    int depth = 0;
    bool quoted = false;
    for (const QChar c : line) {
        if (c == u'"') quoted = !quoted;
        if (!quoted && c == u'(') ++depth;
        if (!quoted && c == u')') --depth;
        if (!quoted && depth == 0 && (c == u',' || c == u';'))
            out << QString();
        else
            out.last() += c;
    }
    for (QString& field : out)
        field = field.trimmed();
    return out;
}

std::optional<VoiceCoding> codingOf(const QString& name, int bits) {
    QString n = name.toUpper();
    n.remove(QRegularExpression(QStringLiteral("[^A-Z0-9]")));
    if (n.contains(QLatin1String("ULAW")) || n.contains(QLatin1String("ULOG")))
        return VoiceCoding::MuLaw;
    if (n.contains(QLatin1String("ALAW")) || n.contains(QLatin1String("ALOG")))
        return VoiceCoding::ALaw;
    if (n.contains(QLatin1String("ADPCM")))
        return n.contains(QLatin1String("IMA")) ? std::optional(VoiceCoding::ImaAdpcm)
                                                : std::nullopt;
    if (!n.contains(QLatin1String("PCM")) && !n.contains(QLatin1String("LINEAR")))
        return std::nullopt;
    if (n.startsWith(QLatin1String("14")) || bits == 14) return VoiceCoding::Pcm14;
    if (n.startsWith(QLatin1String("16")) || bits == 16) return VoiceCoding::Linear16;
    if (!n.startsWith(QLatin1String("8")) && bits != 8) return std::nullopt;
    // 8-bit linear without a sign in its name is unsigned, as V.253 has it.
    return n.contains(QLatin1String("UNSIGNED")) || !n.contains(QLatin1String("SIGNED"))
               ? VoiceCoding::Linear8Unsigned
               : VoiceCoding::Linear8Signed;
}

} // namespace

int VoiceFormat::bytesPerSecond() const {
    switch (coding) {
    case VoiceCoding::Linear16:
    case VoiceCoding::Pcm14:
        return 2 * kRate;
    case VoiceCoding::ImaAdpcm:
        return kRate / 2;
    default:
        return kRate;
    }
}

int VoiceFormat::portSpeed() const {
    // Ten bits a byte on the line (start, eight, stop), and a twentieth more.
    const int needed = bytesPerSecond() * 10 * 21 / 20;
    for (const int speed : {9600, 19200, 38400, 57600, 115200})
        if (speed >= needed) return speed;
    return 230400;
}

void VoiceAbilities::takeClasses(const QString& answer) {
    voice = listHolds(answerLines(answer).join(u','), 8);
}

void VoiceAbilities::takeFormats(const QString& answer) {
    format = bestVoiceFormat(voiceFormats(answer));
}

void VoiceAbilities::takeLineSelections(const QString& answer) {
    // 3 (LT) keeps a handset plugged into the modem's own PHONE jack on the line; 1 cuts it off.
    lineSelection = listHolds(answerLines(answer).join(u','), 3) ? 3 : 1;
}

QList<VoiceFormat> voiceFormats(const QString& answer) {
    QList<VoiceFormat> formats;
    for (const QString& line : answerLines(answer)) {
        const QStringList f = fields(line);
        bool numbered = false;
        const int code = f.value(0).toInt(&numbered);
        if (!numbered || f.size() < 3) continue;
        const QString name = QString(f[1]).remove(u'"');
        // Long style: bits, timing marks, then the rates; short style: the rates at once.
        const bool longStyle = f.size() >= 5 && !f[2].startsWith(u'(');
        const QString rates = longStyle ? f[4] : f[2];
        const auto coding = codingOf(name, longStyle ? f[2].toInt() : 0);
        if (coding && listHolds(rates, kRate)) formats.append({code, name, *coding});
    }
    return formats;
}

std::optional<VoiceFormat> bestVoiceFormat(const QList<VoiceFormat>& formats) {
    const auto best = std::min_element(formats.cbegin(), formats.cend(), [](auto& a, auto& b) {
        return int(a.coding) < int(b.coding);
    });
    if (best == formats.cend()) return std::nullopt;
    return *best;
}

} // namespace tova
