#include "CallLog.h"

#include "FileNames.h"
#include "Journal.h"
#include "RegionalClock.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <cstdio>

namespace tova {

namespace {

const QByteArray kByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");
const QStringList kHeader{QStringLiteral("日期"), QStringLiteral("时间"),
                          QStringLiteral("方向"), QStringLiteral("号码"),
                          QStringLiteral("姓名"), QStringLiteral("时长（秒）"),
                          QStringLiteral("备注"), QStringLiteral("文件名")};
constexpr int kLengthColumn = 5;
const QString kLineEnd = QStringLiteral("\r\n");
const QString kFormulaStarts = QStringLiteral("=+-@\t\r");
// Unambiguous to every spreadsheet whatever its locale; the length with a point for the same
// reason, a comma being the field separator.
const QString kDateFormat = QStringLiteral("yyyy-MM-dd");
const QString kTimeFormat = QStringLiteral("HH:mm:ss");
const QString kDecimalPoint = QStringLiteral(".");
constexpr double kColumnWidths[] = {11, 9, 6, 16, 16, 10, 30, 24};

QStringList fields(const CallLogRow& row) {
    return {row.start.toString(kDateFormat),
            row.start.toString(kTimeFormat),
            row.direction,
            row.number,
            row.name(),
            row.milliseconds >= 0 ? secondsText(row.milliseconds, kDecimalPoint) : QString(),
            row.note,
            displayFileName(row.fileName)};
}

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

bool saveCsv(const QString& path, const QList<CallLogRow>& rows, QString& error) {
    QString text = line(kHeader);
    for (const CallLogRow& row : rows)
        text += line(fields(row));
    const QByteArray bytes = kByteOrderMark + text.toUtf8();
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    error = file.errorString();
    return false;
}

bool writeXlsx(const QByteArray& path, const QByteArray& scratch, const QList<CallLogRow>& rows) {
    // Row by row to the disk, so that 100,000 calls take no more memory than ten.
    lxw_workbook_options options{LXW_TRUE, const_cast<char*>(scratch.constData()), LXW_FALSE};
    lxw_workbook* book = workbook_new_opt(path.constData(), &options);
    if (!book) return false;
    lxw_worksheet* sheet = workbook_add_worksheet(book, QStringLiteral("通话记录").toUtf8());
    bool written = sheet != nullptr;
    for (lxw_col_t column = 0; written && column < std::size(kColumnWidths); ++column)
        worksheet_set_column(sheet, column, column, kColumnWidths[column], nullptr);
    for (qsizetype r = -1; written && r < rows.size(); ++r) {
        const QStringList cells = r < 0 ? kHeader : fields(rows[r]);
        for (lxw_col_t column = 0; written && column < cells.size(); ++column) {
            const auto at = lxw_row_t(r + 1);
            if (r >= 0 && column == kLengthColumn && rows[r].milliseconds >= 0)
                written =
                    worksheet_write_number(sheet, at, column, double(rows[r].milliseconds) / 1000,
                                           nullptr) == LXW_NO_ERROR;
            else if (!cells[column].isEmpty())
                written = worksheet_write_string(sheet, at, column, cells[column].toUtf8(),
                                                 nullptr) == LXW_NO_ERROR;
        }
    }
    return workbook_close(book) == LXW_NO_ERROR && written;
}

bool saveXlsx(const QString& path, const QList<CallLogRow>& rows, QString& error) {
    const QString folder = QFileInfo(path).absolutePath();
    QTemporaryFile partial(folder + QStringLiteral("/.tova-export-XXXXXX.xlsx"));
    if (!QFileInfo(folder).isDir() || !partial.open()) {
        error = QStringLiteral("无法在 %1 中写入文件").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    partial.close();
    const QByteArray partialPath = QFile::encodeName(partial.fileName());
    if (!writeXlsx(partialPath, QFile::encodeName(folder), rows) ||
        std::rename(partialPath.constData(), QFile::encodeName(path).constData()) != 0) {
        error = QStringLiteral("无法写入 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    partial.setAutoRemove(false);
    return true;
}

} // namespace

CallLogFormat callLogFormat(const QString& path) {
    return path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive) ? CallLogFormat::Xlsx
                                                                       : CallLogFormat::Csv;
}

bool saveCallLog(const QString& path, CallLogFormat format, const QList<CallLogRow>& rows,
                 QString& error) {
    return format == CallLogFormat::Xlsx ? saveXlsx(path, rows, error) : saveCsv(path, rows, error);
}

} // namespace tova
