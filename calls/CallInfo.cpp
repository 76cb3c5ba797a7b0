#include "CallInfo.h"

namespace tova {

QString cleanCallerField(const QString& text) {
    QString clean;
    for (const QChar c : text) {
        if (clean.size() == kCallerFieldLength) break;
        if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format)
            clean.append(c);
    }
    return clean.trimmed();
}

CallInfo& currentCall() {
    static CallInfo call;
    return call;
}

QString& currentAttempt() {
    static QString key;
    return key;
}

} // namespace tova
