// How the call log copes with many calls: fills the folder beside this program with 10,000 and
// then 100,000 calls (one in ten a missed call with a note, in the journal only) and times, each
// as the median of 3 runs,
//   (a) opening the call log until it shows its first page and its count, when the journal's
//       index holds none of the recordings yet (it lists the missed calls, then learns the
//       rest in the background), and then with the index in place,
//   (b) a search that finds ten calls (by number, and by a note for the missed one),
//   (c) a filter on one day, 960 calls,
// and a phonebook lookup among 10,000 contacts, against the limits: 2 s for the log, 0.2 s for a
// search or a filter, 1 ms for a lookup.
//   cmake --build build --target bench_calllog && build/bench/bench_calllog
// The window is drawn offscreen unless QT_QPA_PLATFORM says otherwise. The recordings folder
// must not exist: it is made and removed.
#include "AppInfo.h"
#include "BenchCalls.h"
#include "JournalService.h"
#include "Phonebook.h"
#include "Windows.h"
#include "frmCallLog.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

using namespace tova;
using namespace tova::bench;

constexpr double kLogLimitMs = 2000;
constexpr double kFilterLimitMs = 200;
constexpr double kLookupLimitMs = 1;
constexpr int kContacts = 10000;
const QString kSearch = QStringLiteral("1380000012");
constexpr int kFound = 10;
// From 08:00 to midnight, a call a minute.
constexpr int kFirstDay = 16 * 60;

template <class T> T* control(const char* name) {
    return DefaultForm<frmCallLog>::loaded()->findChild<T*>(QString::fromLatin1(name));
}

qint64 shownCount() {
    return control<QLabel>("lblCount")->text().section(u' ', 1, 1).toLongLong();
}

// From the start of the load until the first page and the count are on the screen.
double openLog() {
    return msOf([] {
        frmCallLog& log = DefaultForm<frmCallLog>::Show();
        if (!QTest::qWaitForWindowExposed(&log) ||
            !QTest::qWaitFor([] { return !control<QLabel>("lblCount")->text().isEmpty(); }, 10000))
            qFatal("the call log did not show");
    });
}

void waitForCount(qint64 calls) {
    if (!QTest::qWaitFor([calls] { return shownCount() == calls; }, 600000))
        qFatal("the call log shows %lld calls, not %lld", shownCount(), calls);
}

double filter(const std::function<void()>& change, qint64 calls) {
    return msOf([&] {
        change();
        waitForCount(calls);
    });
}

// Lookups of numbers that are in the phonebook, in it with their area code, and not in it.
double lookupMs() {
    QList<Contact> contacts;
    for (int i = 0; i < kContacts; ++i)
        contacts.append({0,
                         QStringLiteral("联系人%1").arg(i),
                         {QStringLiteral("010-6%1").arg(i, 7, 10, QLatin1Char('0')),
                          QStringLiteral("139%1").arg(i, 8, 10, QLatin1Char('0'))},
                         {}});
    const Phonebook book(contacts);
    QStringList numbers;
    for (int i = 0; i < kContacts; ++i)
        numbers << QStringLiteral("+86 139 %1").arg(i, 8, 10, QLatin1Char('0'))
                << QStringLiteral("6%1").arg(i, 7, 10, QLatin1Char('0'))
                << QStringLiteral("0755%1").arg(i, 8, 10, QLatin1Char('0'));
    int found = 0;
    const double all = msOf([&] {
        for (const QString& number : numbers)
            found += book.find(number) != nullptr;
    });
    if (found != 2 * kContacts) qFatal("the phonebook found %d, not %d", found, 2 * kContacts);
    return all / double(numbers.size());
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int sizes = overEachSize([](const QString& folder, const QString& saved, int calls) {
        std::vector<double> first, learned, again, search, day;
        qint64 firstShown = 0;
        for (int run = 0; run < kRuns; ++run) {
            useJournal(folder, saved);
            first.push_back(openLog());
            firstShown = shownCount();
            learned.push_back(msOf([calls] { waitForCount(calls); }));
            test::unloadAllWindows();
            again.push_back(openLog());
            if (shownCount() != calls) qFatal("the call log is not full");
            search.push_back(
                filter([] { control<QLineEdit>("txtSearch")->setText(kSearch); }, kFound));
            control<QLineEdit>("txtSearch")->clear();
            waitForCount(calls);
            day.push_back(filter(
                [] {
                    auto* dates = control<QComboBox>("cboDate");
                    control<QDateEdit>("dtpFrom")->setDate(kFirstCall.date());
                    control<QDateEdit>("dtpTo")->setDate(kFirstCall.date());
                    dates->setCurrentIndex(dates->findText(QStringLiteral("日期范围")));
                },
                kFirstDay));
            test::unloadAllWindows();
        }
        const double log = std::max(median(first), median(again));
        const double filters = std::max(median(search), median(day));
        std::printf("%d calls: call log shown without an index %.0f ms (%lld calls, the missed "
                    "ones; all %d learned %.1f s later), with the index %.0f ms (limit %.0f ms, "
                    "%s); search %.0f ms, one day %.0f ms (limit %.0f ms, %s)\n",
                    calls, median(first), firstShown, calls, median(learned) / 1000, median(again),
                    kLogLimitMs, verdict(log, kLogLimitMs), median(search), median(day),
                    kFilterLimitMs, verdict(filters, kFilterLimitMs));
        std::fflush(stdout);
        return log <= kLogLimitMs && filters <= kFilterLimitMs;
    });
    if (sizes == 2) return 2;
    const double lookup = lookupMs();
    std::printf("phonebook of %d contacts: a lookup %.4f ms (limit %.0f ms, %s)\n", kContacts,
                lookup, kLookupLimitMs, verdict(lookup, kLookupLimitMs));
    return sizes == 0 && lookup <= kLookupLimitMs ? 0 : 1;
}
