#pragma once

#include "Seam.h"

#include <QDateTime>
#include <QString>

namespace tova {

// The wall clock and the user's regional formats, as the windows show and store them.
class RegionalClock {
public:
    virtual ~RegionalClock() = default;
    virtual QDateTime now() const = 0;
    // The user's short date format, e.g. "yyyy-M-d".
    virtual QString shortDateFormat() const = 0;
    // The user's time of day format with hours, minutes and seconds, e.g. "H:mm:ss".
    virtual QString timeFormat() const = 0;
    virtual QString decimalPoint() const = 0;

    QString dateText(const QDate& date) const;
    QString timeText(const QTime& time) const;
};

// Reads the system clock and QLocale::system().
class SystemClock : public RegionalClock {
public:
    QDateTime now() const override;
    QString shortDateFormat() const override;
    QString timeFormat() const override;
    QString decimalPoint() const override;
};

using ClockSeam = Seam<RegionalClock, SystemClock>;

// Drops time-zone fields ("t", "tt", "ttt", "tttt") and the blanks next to them, so that
// a long time format keeps only hours, minutes, seconds and any AM/PM designator.
QString withoutTimeZone(const QString& format);

// A millisecond count as seconds in the shortest decimal text that reads back the same,
// with the given decimal separator: 12345 -> "12.345", 7000 -> "7", 500 -> "0.5".
QString secondsText(qint64 milliseconds, const QString& decimalPoint);

// A millisecond count as whole seconds, an exact half going to the even neighbour.
int wholeSeconds(qint64 milliseconds);

} // namespace tova
