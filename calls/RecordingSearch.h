#pragma once

#include <QString>
#include <QStringList>

namespace tova {

// What a search looks in: a call's number, names, note and file name, folded so that case does
// not count, kept with the call so that a search over 100,000 calls is one pass.
QString searchText(const QStringList& fields);
// The text looked for, folded the same way.
QString searchKey(const QString& text);

} // namespace tova
