#pragma once

#include <QList>
#include <QString>

namespace tova {

struct CallLogRow;

// The call log as a spreadsheet opens it: one line per call with its date, time, direction,
// number, name, length in seconds, note and file name, under a heading line.
enum class CallLogFormat {
    // CSV in UTF-8 with a byte-order mark (without one a spreadsheet takes the Chinese for the
    // local code page). A field that a spreadsheet would run as a formula (one that begins with
    // = + - @ tab or carriage return) starts with an apostrophe, which keeps it text.
    Csv,
    // An Excel workbook whose numbers are text cells, so that no spreadsheet drops the leading
    // 0 of 01088886666 or writes a long number as 1.0E+11; the length is a number.
    Xlsx,
};

// The format a file name asks for: .xlsx, else CSV.
CallLogFormat callLogFormat(const QString& path);

// Written through a temporary file beside path that replaces it only once it is complete; the
// reason of a failure goes to error.
bool saveCallLog(const QString& path, CallLogFormat format, const QList<CallLogRow>& rows,
                 QString& error);

} // namespace tova
