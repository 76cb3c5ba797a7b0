#include "CallLog.h"

#include "RecordingIndex.h"
#include "RegionalClock.h"

#include <QSaveFile>
#include <QStringList>

namespace tova {

namespace {

const QByteArray kByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");
const QString kHeader = QStringLiteral("日期,时间,方向,号码,姓名,时长（秒）,文件名");
const QString kLineEnd = QStringLiteral("\r\n");
const QString kFormulaStarts = QStringLiteral("=+-@\t\r");
// Unambiguous to every spreadsheet whatever its locale; the length with a point for the same
// reason, a comma being the field separator.
const QString kDateFormat = QStringLiteral("yyyy-MM-dd");
const QString kTimeFormat = QStringLiteral("HH:mm:ss");
const QString kDecimalPoint = QStringLiteral(".");

QString csvField(const QString& text) {
    QString field = text;
    if (!field.isEmpty() && kFormulaStarts.contains(field.front())) field.prepend(u'\'');
    if (!field.contains(u',') && !field.contains(u'"') && !field.contains(u'\n') &&
        !field.contains(u'\r'))
        return field;
    return u'"' + field.replace(u'"', QStringLiteral("\"\"")) + u'"';
}

QString line(const QStringList& fields) {
    QStringList quoted;
    for (const QString& field : fields)
        quoted.append(csvField(field));
    return quoted.join(u',') + kLineEnd;
}

bool writeCallLog(QIODevice& out, const QList<const Recording*>& recordings) {
    QString text = kHeader + kLineEnd;
    for (const Recording* recording : recordings) {
        if (!recording->isCall()) continue;
        const CallInfo& call = recording->tagged.call;
        const QDateTime started = recording->started();
        text +=
            line({started.toString(kDateFormat), started.toString(kTimeFormat), call.direction,
                  call.number, call.name,
                  secondsText(recording->tagged.milliseconds, kDecimalPoint), recording->fileName});
    }
    const QByteArray bytes = kByteOrderMark + text.toUtf8();
    return out.write(bytes) == bytes.size();
}

} // namespace

bool saveCallLog(const QString& path, const QList<const Recording*>& recordings, QString& error) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && writeCallLog(file, recordings) && file.commit())
        return true;
    error = file.errorString();
    return false;
}

} // namespace tova
