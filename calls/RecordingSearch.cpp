#include "RecordingSearch.h"

namespace tova {

namespace {
// Between the fields, so that a search never matches across two of them.
constexpr QChar kSeparator = u'\x1f';
} // namespace

QString searchText(const QStringList& fields) {
    return searchKey(fields.join(kSeparator));
}

QString searchKey(const QString& text) {
    return text.toCaseFolded();
}

} // namespace tova
