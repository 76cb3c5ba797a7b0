// How the query window copes with a large recordings folder: fills the folder beside this program
// with 10,000 and then 100,000 calls (one in ten a missed call with a note, in the journal only)
// and times, each as the median of 3 runs,
//   (a) showing the window, its list full, when the journal's index holds none of the files
//       yet, and how long the index then takes to learn them in the background,
//   (b) showing it again with the index in place,
//   (c) a search by number that narrows the list to nine recordings, and clearing it again,
// against the limits: 2 s to show (with or without the index), 0.2 s to search.
//   cmake --build build --target bench_query && build/bench/bench_query
// The window is drawn offscreen unless QT_QPA_PLATFORM says otherwise. The recordings folder
// must not exist: it is made and removed.
#include "AppInfo.h"
#include "BenchCalls.h"
#include "FileListBox.h"
#include "JournalService.h"
#include "Windows.h"
#include "frmMain2.h"

#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

using namespace tova;
using namespace tova::bench;

constexpr double kShowLimitMs = 2000;
constexpr double kSearchLimitMs = 200;
// The numbers ending in 120 to 128: nine recordings (129 rang out).
const QString kSearch = QStringLiteral("1380000012");
constexpr int kFound = 9;

FileListBox* list() {
    return DefaultForm<frmMain2>::loaded()->findChild<FileListBox*>();
}

// From the start of the load until the window and its full list are on the screen.
double showWindow() {
    return msOf([] {
        frmMain2& window = DefaultForm<frmMain2>::Show();
        if (!QTest::qWaitForWindowExposed(&window)) qFatal("the query window did not show");
        QCoreApplication::processEvents();
    });
}

double learnAll() {
    const auto learned = [] { return JournalService::instance().progress().finished(); };
    // The round that the window's load began.
    if (!QTest::qWaitFor([&] { return !learned(); }, 5000)) return 0.0;
    return msOf([&] {
        if (!QTest::qWaitFor(learned, 600000)) qFatal("the index did not learn the folder");
    });
}

// Until the list shows what the search finds.
double typeSearch(const QString& text, int shown) {
    return msOf([&] {
        DefaultForm<frmMain2>::loaded()->findChild<QLineEdit*>("txtSearch")->setText(text);
        if (!QTest::qWaitFor([shown] { return list()->count() == shown; }, 10000))
            qFatal("the search found %d, not %d", list()->count(), shown);
    });
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return overEachSize([](const QString& folder, const QString& saved, int calls) {
        const int recordings = calls - calls / kMissedEvery;
        std::vector<double> first, learned, again, narrow, clear;
        for (int run = 0; run < kRuns; ++run) {
            useJournal(folder, saved);
            first.push_back(showWindow());
            if (list()->count() != recordings) qFatal("the list is not full");
            learned.push_back(learnAll());
            test::unloadAllWindows();
            again.push_back(showWindow());
            narrow.push_back(typeSearch(kSearch, kFound));
            clear.push_back(typeSearch(QString(), recordings));
            test::unloadAllWindows();
        }
        const double show = std::max(median(first), median(again));
        const double search = std::max(median(narrow), median(clear));
        std::printf("%d calls (%d recordings): window shown without an index %.0f ms (the index "
                    "then learned them in %.1f s), with the index %.0f ms (limit %.0f ms, %s); "
                    "search %.0f ms, cleared %.0f ms (limit %.0f ms, %s)\n",
                    calls, recordings, median(first), median(learned) / 1000, median(again),
                    kShowLimitMs, verdict(show, kShowLimitMs), median(narrow), median(clear),
                    kSearchLimitMs, verdict(search, kSearchLimitMs));
        std::fflush(stdout);
        return show <= kShowLimitMs && search <= kSearchLimitMs;
    });
}
