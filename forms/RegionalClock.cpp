#include "RegionalClock.h"

#include <QLocale>

#include <cmath>

namespace tova {

QString RegionalClock::dateText(const QDate& date) const
{
    return QLocale::system().toString(date, shortDateFormat());
}

QString RegionalClock::timeText(const QTime& time) const
{
    return QLocale::system().toString(time, timeFormat());
}

QDateTime SystemClock::now() const { return QDateTime::currentDateTime(); }

QString SystemClock::shortDateFormat() const
{
    return QLocale::system().dateFormat(QLocale::ShortFormat);
}

QString SystemClock::timeFormat() const
{
    // The short time format often lacks seconds; the long one carries a zone name.
    return withoutTimeZone(QLocale::system().timeFormat(QLocale::LongFormat));
}

QString SystemClock::decimalPoint() const { return QLocale::system().decimalPoint(); }

QString withoutTimeZone(const QString& format)
{
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't') {
            out += c;
            continue;
        }
        while (i + 1 < format.size() && format.at(i + 1) == u't')
            ++i;
        // A zone at the end takes the blank before it; elsewhere the blank after it.
        if (i + 1 < format.size() && format.at(i + 1).isSpace())
            ++i;
        else
            out = out.trimmed();
    }
    return out.trimmed();
}

QString secondsText(qint64 milliseconds, const QString& decimalPoint)
{
    const double seconds = static_cast<double>(milliseconds) / 1000.0;
    // Fixed notation: a call of a million seconds still reads 1000000, not 1e+06.
    QString text = QString::number(seconds, 'f', QLocale::FloatingPointShortest);
    text.replace(u'.', decimalPoint);
    return text;
}

int wholeSeconds(qint64 milliseconds)
{
    // nearbyint rounds in the current mode, which is round-half-to-even by default.
    return static_cast<int>(std::nearbyint(static_cast<double>(milliseconds) / 1000.0));
}

} // namespace tova
