#pragma once

class QWidget;

namespace tova {

class Form;
struct CallLogFilter;
struct CallLogOrder;

// Asks where to write the call log, as CSV or as an Excel workbook, and writes there the calls
// the filter lets through, in that order; the window says why when they could not be written.
void exportCallLog(Form* window, const CallLogFilter& filter, const CallLogOrder& order);

// Tells the user, in a message box of the window, what became of a broken journal: now if it
// has happened, or when it happens while the window is open. One window tells it once.
void reportJournalProblems(QWidget* window);

} // namespace tova
