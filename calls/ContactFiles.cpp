#include "ContactFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

namespace tova {

namespace {

constexpr qsizetype kFoldAt = 75; // octets a vCard line may hold (RFC 6350)

QString decodeText(const QByteArray& bytes, const QByteArray& charset = {}) {
    if (!charset.isEmpty() && charset.toUpper() != "UTF-8") {
        // GB2312 and GBK are subsets of GB18030.
        const QByteArray name = charset.toUpper().startsWith("GB") ? "GB18030" : charset;
        QStringDecoder decoder(name.constData());
        if (decoder.isValid()) return decoder.decode(bytes);
    }
    if (bytes.isValidUtf8()) return QString::fromUtf8(bytes);
    QStringDecoder gb18030("GB18030");
    return gb18030.isValid() ? QString(gb18030.decode(bytes)) : QString::fromLatin1(bytes);
}

QByteArray quotedPrintable(const QByteArray& text) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
            continue;
        }
        bool ok = false;
        const int value = text.mid(i + 1, 2).toInt(&ok, 16);
        if (ok && i + 2 < text.size()) {
            out += char(value);
            i += 2;
        }
    }
    return out;
}

// \, \; \\ and \n as 3.0 and 4.0 write them, split at the unescaped separator.
QStringList unescapedParts(const QString& value, QChar separator) {
    QStringList parts{QString()};
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == u'\\' && i + 1 < value.size()) {
            const QChar next = value[++i];
            parts.last() += next == u'n' || next == u'N' ? QChar(u'\n') : next;
        } else if (c == separator) {
            parts.append(QString());
        } else {
            parts.last() += c;
        }
    }
    return parts;
}

bool hasHan(const QString& text) {
    static const QRegularExpression han(QStringLiteral("\\p{Han}"));
    return text.contains(han);
}

// Family name first in Chinese ("张三"), given name first otherwise ("San Zhang").
QString joinedName(const QString& family, const QString& given) {
    if (family.isEmpty() || given.isEmpty()) return (family + given).trimmed();
    return hasHan(family + given) ? family + given : given + u' ' + family;
}

struct Property {
    QByteArray name;
    QList<QByteArray> parameters;
    QByteArray value;

    QByteArray parameter(const QByteArray& key) const {
        for (const QByteArray& p : parameters)
            if (p.toUpper().startsWith(key + '=')) return p.mid(key.size() + 1);
        return {};
    }
    bool isQuotedPrintable() const {
        return parameter("ENCODING").toUpper() == "QUOTED-PRINTABLE" ||
               parameters.contains("QUOTED-PRINTABLE");
    }
    QString text() const {
        const QByteArray bytes = isQuotedPrintable() ? quotedPrintable(value) : value;
        return decodeText(bytes, parameter("CHARSET"));
    }
};

Property parseProperty(const QByteArray& line) {
    Property property;
    qsizetype colon = -1;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size() && colon < 0; ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == ':' && !quoted) colon = i;
    }
    if (colon < 0) return property;
    QList<QByteArray> head = line.left(colon).split(';');
    property.name = head.takeFirst().toUpper();
    if (const qsizetype dot = property.name.indexOf('.'); dot >= 0)
        property.name = property.name.mid(dot + 1); // "item1.TEL"
    property.parameters = head;
    property.value = line.mid(colon + 1);
    return property;
}

// Logical lines: folded ones joined, and quoted-printable soft line breaks.
QList<QByteArray> logicalLines(const QByteArray& bytes) {
    QList<QByteArray> lines;
    bool softBreak = false;
    for (QByteArray raw : bytes.split('\n')) {
        if (raw.endsWith('\r')) raw.chop(1);
        if (softBreak && !lines.isEmpty()) {
            lines.last() += raw;
        } else if ((raw.startsWith(' ') || raw.startsWith('\t')) && !lines.isEmpty()) {
            lines.last() += raw.mid(1);
        } else {
            lines.append(raw);
        }
        const QByteArray& last = lines.last();
        softBreak = last.endsWith('=') && parseProperty(last).isQuotedPrintable();
        if (softBreak) lines.last().chop(1);
    }
    return lines;
}

QString telNumber(const QString& value) {
    QString number = value.trimmed();
    if (number.startsWith(QStringLiteral("tel:"), Qt::CaseInsensitive)) number = number.mid(4);
    return number.section(u';', 0, 0).trimmed();
}

QByteArray folded(const QByteArray& line) {
    QByteArray out;
    qsizetype start = 0;
    while (line.size() - start > kFoldAt) {
        qsizetype end = start + (start == 0 ? kFoldAt : kFoldAt - 1);
        // Never inside a UTF-8 sequence: continuation bytes are 10xxxxxx.
        while (end > start + 1 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80)
            --end;
        out += line.mid(start, end - start) + "\r\n ";
        start = end;
    }
    return out + line.mid(start) + "\r\n";
}

QByteArray escaped(const QString& text) {
    QString out = text;
    out.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u',', QStringLiteral("\\,"))
        .replace(u';', QStringLiteral("\\;"))
        .replace(u'\n', QStringLiteral("\\n"));
    return out.toUtf8();
}

// CSV fields, quotes and line breaks inside quotes as spreadsheets write them.
QList<QStringList> csvRows(const QString& text) {
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    bool any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        any = true;
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"')
                field += text[++i];
            else if (c == u'"')
                quoted = false;
            else
                field += c;
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            row << std::exchange(field, {});
        } else if (c == u'\n' || c == u'\r') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            row << std::exchange(field, {});
            rows << std::exchange(row, {});
            any = false;
        } else {
            field += c;
        }
    }
    if (any) rows << (row << field);
    return rows;
}

bool headingIs(const QString& heading, const QStringList& words) {
    return words.contains(heading);
}

bool headingHas(const QString& heading, const QStringList& words) {
    return std::any_of(words.cbegin(), words.cend(),
                       [&](const QString& word) { return heading.contains(word); });
}

const QStringList kNameHeadings{QStringLiteral("姓名"),       QStringLiteral("名字"),
                                QStringLiteral("名称"),       QStringLiteral("联系人"),
                                QStringLiteral("联系人姓名"), QStringLiteral("name"),
                                QStringLiteral("full name"),  QStringLiteral("display name")};
const QStringList kFamilyHeadings{QStringLiteral("姓"), QStringLiteral("family name"),
                                  QStringLiteral("last name"), QStringLiteral("surname")};
const QStringList kGivenHeadings{QStringLiteral("名"), QStringLiteral("given name"),
                                 QStringLiteral("first name")};
const QStringList kNumberWords{QStringLiteral("电话"),   QStringLiteral("手机"),
                               QStringLiteral("号码"),   QStringLiteral("phone"),
                               QStringLiteral("mobile"), QStringLiteral("tel"),
                               QStringLiteral("cell")};
const QStringList kNotNumberWords{QStringLiteral("类型"), QStringLiteral("type"),
                                  QStringLiteral("label")};
const QStringList kGroupHeadings{QStringLiteral("分组"),     QStringLiteral("组"),
                                 QStringLiteral("群组"),     QStringLiteral("group"),
                                 QStringLiteral("groups"),   QStringLiteral("group membership"),
                                 QStringLiteral("category"), QStringLiteral("categories")};
// Several values in one cell: Google writes " ::: " between them.
const QRegularExpression kValueSeparators(QStringLiteral(":::|[;；,，、/]"));

} // namespace

QList<Contact> readVCards(const QByteArray& bytes) {
    QList<Contact> contacts;
    std::optional<Contact> card;
    QString fromN;
    for (const QByteArray& line : logicalLines(bytes)) {
        const Property property = parseProperty(line);
        const QByteArray value = property.value.trimmed().toUpper();
        if (property.name == "BEGIN" && value == "VCARD") {
            card.emplace();
            fromN.clear();
        } else if (!card) {
            continue;
        } else if (property.name == "END" && value == "VCARD") {
            if (card->name.isEmpty()) card->name = fromN;
            if (!card->name.isEmpty() || !card->numbers.isEmpty()) contacts << *card;
            card.reset();
        } else if (property.name == "FN") {
            card->name = unescapedParts(property.text(), u'\0').join(QString()).trimmed();
        } else if (property.name == "N") {
            const QStringList parts = unescapedParts(property.text(), u';');
            fromN = joinedName(parts.value(0).trimmed(), parts.value(1).trimmed());
        } else if (property.name == "TEL") {
            const QString number = telNumber(property.text());
            if (!number.isEmpty()) card->numbers << number;
        } else if (property.name == "CATEGORIES" && card->group.isEmpty()) {
            card->group = unescapedParts(property.text(), u',').value(0).trimmed();
        }
    }
    return contacts;
}

QByteArray writeVCards(const QList<Contact>& contacts) {
    QByteArray out;
    for (const Contact& contact : contacts) {
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
        out += folded("FN:" + escaped(contact.name));
        out += folded("N:" + escaped(contact.name) + ";;;;");
        for (const QString& number : contact.numbers)
            out += folded("TEL;TYPE=VOICE:" + escaped(number));
        if (!contact.group.isEmpty()) out += folded("CATEGORIES:" + escaped(contact.group));
        out += "END:VCARD\r\n";
    }
    return out;
}

QList<Contact> readContactsCsv(const QByteArray& bytes) {
    const QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    QList<QStringList> rows = csvRows(decodeText(body));
    if (rows.isEmpty()) return {};
    const QStringList headings = rows.takeFirst();
    qsizetype name = -1, family = -1, given = -1, group = -1;
    QList<qsizetype> numbers;
    for (qsizetype i = 0; i < headings.size(); ++i) {
        const QString heading = headings[i].trimmed().toCaseFolded();
        if (name < 0 && headingIs(heading, kNameHeadings))
            name = i;
        else if (family < 0 && headingIs(heading, kFamilyHeadings))
            family = i;
        else if (given < 0 && headingIs(heading, kGivenHeadings))
            given = i;
        else if (group < 0 && headingIs(heading, kGroupHeadings))
            group = i;
        else if (headingHas(heading, kNumberWords) && !headingHas(heading, kNotNumberWords))
            numbers << i;
    }
    QList<Contact> contacts;
    for (const QStringList& row : rows) {
        Contact contact;
        contact.name = name >= 0
                           ? row.value(name).trimmed()
                           : joinedName(row.value(family).trimmed(), row.value(given).trimmed());
        for (const qsizetype column : numbers)
            for (const QString& number : row.value(column).split(kValueSeparators))
                if (!number.trimmed().isEmpty()) contact.numbers << number.trimmed();
        for (const QString& part : row.value(group).split(kValueSeparators))
            if (contact.group.isEmpty() && !part.trimmed().startsWith(u'*'))
                contact.group = part.trimmed();
        if (!contact.numbers.isEmpty()) contacts << contact;
    }
    return contacts;
}

QList<Contact> readContactFile(const QString& path, bool& readable) {
    QFile file(path);
    readable = file.open(QIODevice::ReadOnly);
    if (!readable) return {};
    const QByteArray bytes = file.readAll();
    const bool vcard =
        QFileInfo(path).suffix().compare(QStringLiteral("vcf"), Qt::CaseInsensitive) == 0 ||
        bytes.left(64).toUpper().contains("BEGIN:VCARD");
    return vcard ? readVCards(bytes) : readContactsCsv(bytes);
}

} // namespace tova
