// The cost of a call: the share of one core that the program takes while its main window
// waits, and while it records a call, against `pacat --record` capturing the same source at
// the same time, as the medians of alternating rounds. The windows are the program's own, in
// this process, on a real X display (the main window asks it for the pointer ten times a
// second); COM3 is a pseudo-terminal (socat) with a modem that answers "OK". Run it as
//   tests/support/with-pulse.sh tests/support/with-xvfb.sh build/bench/bench_callcost [SECONDS]
// SECONDS (default 20) is the length of each measured stretch; there are kRounds rounds. The
// clock counts in 10 ms ticks, so pacat's small share is coarse unless the stretches are long.
// The call's figure includes the main window, which stays open; the share the call adds to it
// is printed as well, and the share of a bare device recording the same source without the
// recorder window. So is the floor of any program that wakes ten times a second, as the main
// window's timers do: this process with no window and one 100 ms timer that does nothing.
#include "PtyPair.h"
#include "RecordingsFolder.h"

#include "Form1.h"
#include "MMControl.h"
#include "MciMode.h"
#include "WaveDevice.h"
#include "frmMain.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 5;
constexpr std::chrono::seconds kDefaultStretch{20};
// What opening the recorder window and starting its capture cost stays out of the figure.
constexpr std::chrono::seconds kSettle{1};
constexpr int kStartLimitMs = 10000;

// Time on a CPU of every thread of a process, in nanoseconds from the scheduler, where the
// user and system times of stat and getrusage count in 10 ms ticks: too coarse for 0.1 %.
double cpuSecondsOf(qint64 pid) {
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    double total = 0;
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (file.open(QIODevice::ReadOnly)) total += file.readAll().split(' ').value(0).toDouble();
    }
    return total / 1e9;
}

double ownCpuSeconds() {
    return cpuSecondsOf(getpid());
}

// The event loop alone, as in the program: QTest::qWait() would wake every 10 ms.
void runFor(std::chrono::milliseconds stretch) {
    QEventLoop loop;
    QTimer::singleShot(stretch, &loop, &QEventLoop::quit);
    loop.exec();
}

// Percent of a core that each of cpus grew by while the event loop ran for stretch.
std::vector<double> percentOver(std::chrono::seconds stretch,
                                const std::vector<std::function<double()>>& cpus) {
    std::vector<double> before;
    for (const auto& cpu : cpus)
        before.push_back(cpu());
    const Clock::time_point start = Clock::now();
    runFor(stretch);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> percent;
    for (size_t i = 0; i < cpus.size(); ++i)
        percent.push_back(100 * (cpus[i]() - before[i]) / wall);
    return percent;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The share a bare device recording adds, without the recorder window.
double deviceRecording(std::chrono::seconds stretch) {
    tova::WaveDevice device;
    device.open({});
    device.record();
    runFor(kSettle);
    const double percent = percentOver(stretch, {ownCpuSeconds})[0];
    device.close();
    return percent;
}

bool recording() {
    const tova::frmMain* recorder = tova::DefaultForm<tova::frmMain>::loaded();
    return recorder && recorder->mci->Mode() == tova::mciModeRecord;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::chrono::seconds stretch{argc > 1 ? atoi(argv[1]) : kDefaultStretch.count()};
    tova::test::PortFolder ports;
    const auto line = ports.line(3);
    if (!line->isReady()) {
        std::fprintf(stderr, "socat could not make the COM3 pseudo-terminal\n");
        return 1;
    }
    tova::test::ScriptedModem modem(line->peerLink());
    tova::test::RecordingsFolder recordings;
    const QTemporaryDir scratch;
    std::vector<double> floor;
    QTimer tick;
    tick.callOnTimeout([] {});
    tick.start(100);
    for (int round = 0; round < kRounds; ++round)
        floor.push_back(percentOver(stretch, {ownCpuSeconds})[0]);
    tick.stop();
    tova::Form1& form = tova::DefaultForm<tova::Form1>::Show();
    runFor(kSettle);

    std::vector<double> idle, call, pacat, added, device;
    for (int round = 0; round < kRounds; ++round) {
        idle.push_back(percentOver(stretch, {ownCpuSeconds})[0]);
        device.push_back(deviceRecording(stretch) - idle.back());

        form.Command3->click();
        if (!QTest::qWaitFor(recording, kStartLimitMs)) {
            std::fprintf(stderr, "the recorder window did not start recording\n");
            return 1;
        }
        runFor(kSettle);
        QProcess reference;
        reference.setStandardOutputFile(scratch.filePath("pacat.raw"));
        reference.start(QStringLiteral("pacat"), {"--record", "--device=linein", "--format=s16le",
                                                  "--rate=8000", "--channels=1"});
        if (!reference.waitForStarted()) {
            std::fprintf(stderr, "pacat did not start\n");
            return 1;
        }
        const qint64 pid = reference.processId();
        const std::vector<double> both =
            percentOver(stretch, {ownCpuSeconds, [pid] { return cpuSecondsOf(pid); }});
        call.push_back(both[0]);
        pacat.push_back(both[1]);
        added.push_back(call.back() - idle.back());
        reference.terminate();
        reference.waitForFinished();

        form.Command4->click();
        if (!QTest::qWaitFor([] { return !tova::DefaultForm<tova::frmMain>::loaded(); },
                             kStartLimitMs)) {
            std::fprintf(stderr, "the recorder window did not store the call\n");
            return 1;
        }
        for (const QString& name : tova::test::RecordingsFolder::files())
            QFile::remove(tova::test::RecordingsFolder::file(name));
        std::printf("round %d: idle %.2f %%, call %.2f %%, pacat %.2f %%, device adds %.2f %%\n",
                    round + 1, idle.back(), call.back(), pacat.back(), device.back());
        std::fflush(stdout);
    }
    tova::DefaultForm<tova::Form1>::Unload();
    std::printf("idle main window %.2f %% of a core; recording call %.2f %%; "
                "pacat --record %.2f %%; ratio %.2f\n"
                "the call adds %.2f %% to the idle main window (ratio %.2f), "
                "of which the device's recording without its window %.2f %% (ratio %.2f)\n",
                median(idle), median(call), median(pacat), median(call) / median(pacat),
                median(added), median(added) / median(pacat), median(device),
                median(device) / median(pacat));
    std::printf("an empty 100 ms timer alone %.2f %% (ratio %.2f)\n", median(floor),
                median(floor) / median(pacat));
    return 0;
}
