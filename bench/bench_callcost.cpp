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
// Then the same calls recorded through a voice modem ([audio] source=modem): the tests' pty
// voice modem, in a process of its own, streams µ-law at 8000 bytes a second, and the share
// such a call adds to the idle window is set against the sound-server call's. Last, the
// busy-tone detector's own share of a core, timed over minutes of audio on its own.
#include "BusyTone.h"
#include "PtyPair.h"
#include "RecordingsFolder.h"
#include "Settings.h"
#include "ToneIntoLine.h"
#include "VoiceLine.h"

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

#include <ctime>
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

bool answer(tova::Form1& form) {
    form.Command3->click();
    if (QTest::qWaitFor(recording, kStartLimitMs)) return true;
    std::fprintf(stderr, "the recorder window did not start recording\n");
    return false;
}

bool hangUp(tova::Form1& form) {
    form.Command4->click();
    if (!QTest::qWaitFor([] { return !tova::DefaultForm<tova::frmMain>::loaded(); },
                         kStartLimitMs)) {
        std::fprintf(stderr, "the recorder window did not store the call\n");
        return false;
    }
    for (const QString& name : tova::test::RecordingsFolder::files())
        QFile::remove(tova::test::RecordingsFolder::file(name));
    return true;
}

// Percent of a core the detector takes on 8 kHz audio, timed on this thread alone.
double detectorShare() {
    const std::vector<int16_t> line =
        tova::test::cadence({{1000, 0, 700}, {0, 0, 300}, {440, 660, 1000}}, 100, 300);
    tova::BusyToneDetector detector(tova::BusyTone{});
    timespec from{}, to{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &from);
    for (size_t at = 0; at + 4000 <= line.size(); at += 4000)
        detector.hear(line.data() + at, 4000);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &to);
    const double cpu = double(to.tv_sec - from.tv_sec) + double(to.tv_nsec - from.tv_nsec) / 1e9;
    return 100 * cpu / (double(line.size()) / 8000);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::chrono::seconds stretch{argc > 1 ? atoi(argv[1]) : kDefaultStretch.count()};
    tova::test::PortFolder ports;
    auto line = ports.line(3);
    if (!line->isReady()) {
        std::fprintf(stderr, "socat could not make the COM3 pseudo-terminal\n");
        return 1;
    }
    auto modemLine = std::make_unique<tova::test::ScriptedModem>(line->peerLink());
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

        if (!answer(form)) return 1;
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

        if (!hangUp(form)) return 1;
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
    std::fflush(stdout);

    // The same calls through a voice modem.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QDir().mkpath(QFileInfo(tova::Settings::path()).path());
    QFile settings(tova::Settings::path());
    if (!settings.open(QIODevice::WriteOnly) || settings.write("[audio]\nsource=modem\n") < 0)
        return 1;
    settings.close();
    tova::Settings::reload();
    modemLine.reset();
    line.reset();
    const auto voiceLine = ports.line(3);
    QProcess voiceModem;
    voiceModem.start(QStringLiteral(TOVA_VOICE_MODEM), {voiceLine->peerLink()});
    if (!voiceLine->isReady() || !voiceModem.waitForStarted()) return 1;
    tova::Form1& voiceForm = tova::DefaultForm<tova::Form1>::Show();
    runFor(kSettle * 3); // the modem's answers to what it can do
    std::vector<double> voiceIdle, voiceCall, voiceAdded;
    for (int round = 0; round < kRounds; ++round) {
        voiceIdle.push_back(percentOver(stretch, {ownCpuSeconds})[0]);
        if (!answer(voiceForm) || !tova::VoiceLine::instance().isOpen()) return 1;
        runFor(kSettle);
        voiceCall.push_back(percentOver(stretch, {ownCpuSeconds})[0]);
        voiceAdded.push_back(voiceCall.back() - voiceIdle.back());
        if (!hangUp(voiceForm)) return 1;
        runFor(kSettle * 5); // the stream stopped and the line hung up
        std::printf("modem round %d: idle %.2f %%, call %.2f %%\n", round + 1, voiceIdle.back(),
                    voiceCall.back());
        std::fflush(stdout);
    }
    tova::DefaultForm<tova::Form1>::Unload();
    voiceModem.terminate();
    voiceModem.waitForFinished();
    std::printf("through the modem: idle main window %.2f %%, recording call %.2f %%, the call "
                "adds %.2f %% against %.2f %% from the sound server (ratio %.2f)\n",
                median(voiceIdle), median(voiceCall), median(voiceAdded), median(added),
                median(voiceAdded) / median(added));
    std::printf("the busy-tone detector %.4f %% of a core\n", detectorShare());
    return 0;
}
