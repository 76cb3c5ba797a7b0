#pragma once

#include "Phonebook.h"

#include <QByteArray>
#include <QList>

namespace tova {

// Contacts as phones and address books export them.
//
// vCard (.vcf) 2.1, 3.0 and 4.0: FN, else N, as the name; every TEL (a tel: URI too) as a
// number; the first CATEGORIES as the group. Folded lines, quoted-printable (with its soft line
// breaks) and a CHARSET (UTF-8, GB18030/GBK/GB2312) are read; text escapes (\, \; \n) undone.
QList<Contact> readVCards(const QByteArray& bytes);
// vCard 3.0 in UTF-8, lines folded at 75 bytes, CRLF.
QByteArray writeVCards(const QList<Contact>& contacts);

// CSV in UTF-8 (with or without a byte-order mark) or else GB18030, as a spreadsheet saves it:
// a heading line names the columns, in Chinese or English (姓名/名字/name; 电话/手机/号码/phone/
// mobile/tel, as many as there are; 分组/group). Rows without a number are left out. Empty
// when no heading names a number column.
QList<Contact> readContactsCsv(const QByteArray& bytes);

// Either of them, by the file's name (.vcf) or its first line (BEGIN:VCARD).
QList<Contact> readContactFile(const QString& path, bool& readable);

} // namespace tova
