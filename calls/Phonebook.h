#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace tova {

struct Contact {
    qint64 id = 0; // 0: not yet in the journal
    QString name;
    QStringList numbers;
    QString group;
};

// The contact's name first, then the caller ID's name where it differs.
QString displayName(const QString& contactName, const QString& callerName);

// A number as the phonebook compares it: digits only; +86 and 0086 folded to the domestic form
// (a mobile number as it is, any other with the trunk 0 before its area code); another
// country's + as 00. Empty for a text with no digits (号码保密).
QString normalizedNumber(const QString& number);

// The contacts by number. A number matches a contact's number when both normalise to the same
// digits, or when one is a local number (7 or 8 digits, not starting with 0 or 1) and the other
// is that number behind an area code (0 and 2 or 3 digits), as a local call's caller ID leaves
// the area code out. The longest match wins; of equal ones the exact match, then the contact
// added first.
class Phonebook {
public:
    Phonebook() = default;
    explicit Phonebook(const QList<Contact>& contacts);

    // The contact the number belongs to, nullptr when none.
    const Contact* find(const QString& number) const;
    QString nameOf(const QString& number) const;
    const QList<Contact>& contacts() const { return m_contacts; }

private:
    struct Match {
        qsizetype contact = -1;
        qsizetype length = 0;
        bool exact = false;
    };
    void consider(Match& best, const QHash<QString, qsizetype>& table, const QString& key,
                  qsizetype length, bool exact) const;

    QList<Contact> m_contacts;
    QHash<QString, qsizetype> m_exact;     // normalised number -> contact
    QHash<QString, qsizetype> m_localPart; // local number behind an area code -> contact
};

} // namespace tova
