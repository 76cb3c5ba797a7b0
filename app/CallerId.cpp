#include "CallerId.h"

#include "CallInfo.h"

#include <QRegularExpression>

namespace tova {

namespace {

// KEY = value; command echoes ("AT+VCID=1", "ATS0=1") are no fields.
const QRegularExpression kField(QStringLiteral("^\\s*(?!AT)([A-Z]{2,8})\\s*=\\s*(.*?)\\s*$"));
// What a read may end with while a report line is still coming: the start of a key, a key
// with the blanks after it, or a field without its line end yet.
const QRegularExpression kFieldStart(QStringLiteral(
    "^\\s*(D(A(T)?)?|T(I(M)?)?|N(M(B)?|A(M)?)?|M(E(S)?)?|(DATE|TIME|NMBR|NAME|MESG)\\s*|"
    "(?!AT)[A-Z]{2,8}\\s*=.*)$"));
// Report lines are short (a name or number of a few dozen characters at most): a tail longer
// than this is no report, and holding it would copy noise at every read.
constexpr qsizetype kLongestHeld = 128;

const QRegularExpression kLineEnd(QStringLiteral("[\r\n]"));

// "P": the caller withheld it; "O": the network does not know it.
QString fieldText(const QString& value, const QString& withheld, const QString& unknown) {
    if (value == u"P") return withheld;
    if (value == u"O") return unknown;
    return cleanCallerField(value);
}

} // namespace

QString CallerIdReader::take(const QString& received) {
    const QString text = std::exchange(m_held, QString()) + received;
    QString rest;
    qsizetype start = 0;
    for (qsizetype end; (end = text.indexOf(kLineEnd, start)) >= 0; start = end + 1)
        if (!takeLine(text.sliced(start, end - start))) rest += text.sliced(start, end - start + 1);
    const QString tail = text.sliced(start);
    if (tail.size() <= kLongestHeld && kFieldStart.match(tail).hasMatch())
        m_held = tail;
    else
        rest += tail;
    return rest;
}

bool CallerIdReader::takeLine(const QString& line) {
    const QRegularExpressionMatch field = kField.match(line);
    if (!field.hasMatch()) {
        if (!line.trimmed().isEmpty()) m_inReport = false;
        return false;
    }
    if (!m_inReport) {
        clear();
        m_inReport = m_hasReport = true;
    }
    const QString key = field.captured(1);
    if (key == u"NMBR")
        m_number = fieldText(field.captured(2), kNumberWithheld, kNumberUnavailable);
    if (key == u"NAME") m_name = fieldText(field.captured(2), QString(), QString());
    return true;
}

void CallerIdReader::clear() {
    m_number.clear();
    m_name.clear();
    m_hasReport = m_inReport = false;
}

} // namespace tova
