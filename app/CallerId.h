#pragma once

#include <QString>

namespace tova {

// Caller ID as modems report it between the rings, one field a line, with or without blanks
// around "=": "DATE = 0315", "TIME=1405", "NMBR = 13800138000", "NAME = ZHANG SAN", "MESG = ..".
class CallerIdReader {
public:
    // Takes the report lines out of what one read brought and returns the rest, for the reply
    // rules: a name such as BROOKS is no "OK". The end of a read that may begin a report line
    // is held back until the rest of that line comes.
    QString take(const QString& received);

    // Whether a report came since clear(); a later report replaces an earlier one.
    bool hasReport() const { return m_hasReport; }
    // The number, or 号码保密 / 号码不详 when the network withholds it or does not know it.
    QString number() const { return m_number; }
    QString name() const { return m_name; }
    void clear();

private:
    bool takeLine(const QString& line);

    QString m_held;
    QString m_number;
    QString m_name;
    bool m_hasReport = false;
    // Within a run of report lines: the next field belongs to the same report.
    bool m_inReport = false;
};

} // namespace tova
