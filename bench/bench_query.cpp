// How the query window copes with a large recordings folder: fills the folder beside this program
// with 10,000 and then 100,000 small tagged calls and times, each as the median of 3 runs,
//   (a) showing the window when it has no index yet (every file is read),
//   (b) showing it again with the index in place,
//   (c) a search that narrows the list to ten calls, and clearing it again (every file shown),
// against the limits: with 10,000 calls 0.5 s to show and 0.2 s to search, with 100,000 calls
// 2 s and 0.5 s. Figure (a) has no limit: it is paid once, when the index is first made.
//   cmake --build build --target bench_query && build/bench/bench_query
// The window is drawn offscreen unless QT_QPA_PLATFORM says otherwise; the index goes into a
// temporary cache folder. The recordings folder must not exist: it is made and removed.
#include "AppInfo.h"
#include "CallTags.h"
#include "FileListBox.h"
#include "RecordingIndex.h"
#include "Windows.h"
#include "frmMain2.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using namespace tova;

constexpr int kRuns = 3;
constexpr int kCallMs = 100;
constexpr int kSampleRate = 8000;
const QByteArray kTemplateNumber = QByteArrayLiteral("13800000000");
// Matches the ten numbers ending in 120 to 129.
const QString kSearch = QStringLiteral("1380000012");

struct Limits {
    int calls;
    double showMs;
    double searchMs;
};
constexpr Limits kLimits[] = {{10000, 500, 200}, {100000, 2000, 500}};

// One tagged call as the recorder writes it, as bytes.
QByteArray templateCall(const QString& path) {
    SF_INFO info{0, kSampleRate, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    writeCallTags(file, {QString::fromLatin1(kTemplateNumber), QStringLiteral("王小明"), kIncoming,
                         QDateTime::currentDateTime()});
    const std::vector<short> silence(kCallMs * kSampleRate / 1000);
    sf_write_short(file, silence.data(), sf_count_t(silence.size()));
    sf_close(file);
    QFile written(path);
    written.open(QIODevice::ReadOnly);
    return written.readAll();
}

// Adds calls until the folder holds `calls`, each under a name of the recorder's kind and with
// a number of its own.
void fillFolder(const QString& folder, const QByteArray& call, int from, int calls) {
    const qsizetype at = call.indexOf(kTemplateNumber);
    const QDateTime first(QDate(2024, 1, 1), QTime(8, 0));
    QByteArray bytes = call;
    for (int i = from; i < calls; ++i) {
        const QByteArray number = QByteArray::number(13800000000LL + i);
        bytes.replace(at, number.size(), number);
        QFile file(folder + u'/' + first.addSecs(qint64(i) * 60).toString("yyyy-M-dHHmmss") +
                   QStringLiteral(".wav"));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
    }
}

double msOf(const std::function<void()>& step) {
    QElapsedTimer timer;
    timer.start();
    step();
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// From the start of the load until the window and its list are on the screen.
double showWindow() {
    return msOf([] {
        frmMain2& window = DefaultForm<frmMain2>::Show();
        if (!QTest::qWaitForWindowExposed(&window)) qFatal("the query window did not show");
        QCoreApplication::processEvents();
    });
}

double typeSearch(const QString& text) {
    return msOf([&text] {
        DefaultForm<frmMain2>::loaded()->findChild<QLineEdit*>("txtSearch")->setText(text);
        QCoreApplication::processEvents();
    });
}

const char* verdict(double ms, double limit) {
    return ms <= limit ? "ok" : "TOO SLOW";
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir scratch;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(scratch.filePath("cache")));
    QApplication app(argc, argv);
    const QString folder = recordingsFolder();
    if (QFileInfo::exists(folder) || !QDir().mkpath(folder)) {
        std::fprintf(stderr, "%s must not exist yet\n", qPrintable(folder));
        return 2;
    }
    const QByteArray call = templateCall(scratch.filePath("template.wav"));
    bool withinLimits = true;
    int calls = 0;
    for (const Limits& limits : kLimits) {
        fillFolder(folder, call, calls, limits.calls);
        calls = limits.calls;
        std::vector<double> first, again, narrow, clear;
        for (int run = 0; run < kRuns; ++run) {
            QFile::remove(RecordingIndex::defaultPath(folder));
            first.push_back(showWindow());
            test::unloadAllWindows();
            again.push_back(showWindow());
            narrow.push_back(typeSearch(kSearch));
            if (DefaultForm<frmMain2>::loaded()->findChild<FileListBox*>()->count() != 10)
                qFatal("the search did not find the ten calls");
            clear.push_back(typeSearch(QString()));
            test::unloadAllWindows();
        }
        const double show = median(again), search = std::max(median(narrow), median(clear));
        withinLimits = withinLimits && show <= limits.showMs && search <= limits.searchMs;
        std::printf("%d calls: window first shown without an index %.0f ms; shown with the index "
                    "%.0f ms (limit %.0f ms, %s); search %.0f ms, cleared %.0f ms (limit %.0f ms, "
                    "%s)\n",
                    calls, median(first), show, limits.showMs, verdict(show, limits.showMs),
                    median(narrow), median(clear), limits.searchMs,
                    verdict(search, limits.searchMs));
        std::fflush(stdout);
    }
    QDir(folder).removeRecursively();
    return withinLimits ? 0 : 1;
}
