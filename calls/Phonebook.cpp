#include "Phonebook.h"

namespace tova {

namespace {

const QString kChinaPrefix = QStringLiteral("86");
const QString kInternationalPrefix = QStringLiteral("00");
constexpr qsizetype kMobileLength = 11;
// A subscriber number within an area: 7 or 8 digits, never starting with 0 or 1.
constexpr qsizetype kShortestLocal = 7;
constexpr qsizetype kLongestLocal = 8;
// An area code with its trunk 0: 010 and 02x, or four digits (0571).
constexpr qsizetype kShortestAreaCode = 3;
constexpr qsizetype kLongestAreaCode = 4;

bool isLocal(const QString& number) {
    return number.size() >= kShortestLocal && number.size() <= kLongestLocal &&
           number.front() != u'0' && number.front() != u'1';
}

// The local number behind an area code, for each way of reading the area code.
QStringList localParts(const QString& number) {
    QStringList parts;
    if (!number.startsWith(u'0') || number.startsWith(kInternationalPrefix)) return parts;
    for (qsizetype area = kShortestAreaCode; area <= kLongestAreaCode; ++area)
        if (isLocal(number.mid(area))) parts << number.mid(area);
    return parts;
}

} // namespace

QString displayName(const QString& contactName, const QString& callerName) {
    if (contactName.isEmpty()) return callerName;
    if (callerName.isEmpty() || callerName.compare(contactName, Qt::CaseInsensitive) == 0)
        return contactName;
    return contactName + u' ' + callerName;
}

QString normalizedNumber(const QString& number) {
    const QString folded = number.normalized(QString::NormalizationForm_KC).trimmed();
    QString digits;
    for (const QChar c : folded)
        if (c >= u'0' && c <= u'9') digits.append(c);
    if (folded.startsWith(u'+')) digits.prepend(kInternationalPrefix);
    if (!digits.startsWith(kInternationalPrefix + kChinaPrefix)) return digits;
    const QString domestic = digits.mid(kInternationalPrefix.size() + kChinaPrefix.size());
    if (domestic.size() == kMobileLength && domestic.startsWith(u'1')) return domestic;
    return domestic.startsWith(u'0') ? domestic : u'0' + domestic;
}

Phonebook::Phonebook(const QList<Contact>& contacts)
    : m_contacts(contacts) {
    for (qsizetype i = 0; i < m_contacts.size(); ++i) {
        for (const QString& number : m_contacts[i].numbers) {
            const QString normal = normalizedNumber(number);
            if (normal.isEmpty()) continue;
            m_exact.insert(normal, m_exact.value(normal, i));
            for (const QString& local : localParts(normal))
                m_localPart.insert(local, m_localPart.value(local, i));
        }
    }
}

void Phonebook::consider(Match& best, const QHash<QString, qsizetype>& table, const QString& key,
                         qsizetype length, bool exact) const {
    const auto found = table.constFind(key);
    if (found == table.cend()) return;
    const bool better = length > best.length || (length == best.length && exact && !best.exact) ||
                        (length == best.length && exact == best.exact && *found < best.contact);
    if (best.contact < 0 || better) best = {*found, length, exact};
}

const Contact* Phonebook::find(const QString& number) const {
    const QString normal = normalizedNumber(number);
    if (normal.isEmpty()) return nullptr;
    Match best;
    consider(best, m_exact, normal, normal.size(), true);
    // A local caller ID against a stored number with its area code, and the other way round.
    if (isLocal(normal)) consider(best, m_localPart, normal, normal.size(), false);
    for (const QString& local : localParts(normal))
        consider(best, m_exact, local, local.size(), false);
    return best.contact < 0 ? nullptr : &m_contacts[best.contact];
}

QString Phonebook::nameOf(const QString& number) const {
    const Contact* contact = find(number);
    return contact ? contact->name : QString();
}

} // namespace tova
