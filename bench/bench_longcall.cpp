// How a call's length weighs on memory and on storing it: records calls of 1, 10 and 60 minutes
// through the multimedia device (with the deterministic fake sound system, so an hour takes
// seconds), and prints the growth of resident memory while recording and the time "Save"
// takes. The content lives in a spill file, so memory should stay flat while the content
// grows sixty-fold, and saving should cost about as much per megabyte at every length.
// Then what keeping a recording on the disk costs: audio written as the sound system hands it
// over, without and with the sync the device makes every second, as time per hour of audio.
#include "FakeAudio.h"
#include "MMControl.h"
#include "WavContent.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace {

qint64 residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

struct Result {
    int minutes;
    double contentMiB;
    double residentGrowthMiB;
    double saveMs;
};

Result recordCall(int minutes, const QTemporaryDir& dir, tova::test::FakeAudio& audio) {
    tova::MMControl mci;
    mci.setFileName(dir.filePath(QStringLiteral("new.wav")));
    mci.setCommand(QStringLiteral("Open"));
    mci.setCommand(QStringLiteral("Record"));
    const qint64 before = residentKiB();
    for (int second = 0; second < minutes * 60; ++second)
        audio.capture(std::chrono::seconds(1));
    const qint64 after = residentKiB();

    const QString target = dir.filePath(QStringLiteral("call%1.wav").arg(minutes));
    mci.setFileName(target);
    QElapsedTimer timer;
    timer.start();
    mci.setCommand(QStringLiteral("Save"));
    const double saveMs = timer.nsecsElapsed() / 1e6;
    if (mci.Error() != 0) std::fprintf(stderr, "save failed: %s\n", qPrintable(mci.ErrorMessage()));
    mci.setCommand(QStringLiteral("close"));
    return {minutes, QFileInfo(target).size() / 1048576.0, (after - before) / 1024.0, saveMs};
}

constexpr int kDurabilityMinutes = 10;
constexpr int kPiecesPerSecond = 10;

// Seconds it takes to write an hour of audio, measured on kDurabilityMinutes of it.
double hourWriteSeconds(const QString& folder, bool syncEverySecond) {
    const auto content = tova::WavContent::createEmpty(folder, {});
    const std::vector<qint16> piece(tova::WavContent::kNewRate / kPiecesPerSecond, 1000);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kDurabilityMinutes * 60 * kPiecesPerSecond; ++i) {
        content->write(content->frames(), piece.data(), qint64(piece.size()));
        if (syncEverySecond && i % kPiecesPerSecond == kPiecesPerSecond - 1) content->sync();
    }
    return timer.nsecsElapsed() / 1e9 * 60 / kDurabilityMinutes;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("TMPDIR", QFile::encodeName(dir.path()));
    tova::test::FakeAudio audio;

    std::printf("%8s %12s %18s %10s %12s\n", "minutes", "content MiB", "resident growth MiB",
                "save ms", "save ms/MiB");
    std::vector<Result> results;
    for (const int minutes : {1, 10, 60}) {
        const Result r = recordCall(minutes, dir, audio);
        results.push_back(r);
        std::printf("%8d %12.1f %18.2f %10.1f %12.2f\n", r.minutes, r.contentMiB,
                    r.residentGrowthMiB, r.saveMs, r.saveMs / r.contentMiB);
    }
    const Result& shortCall = results.front();
    const Result& longCall = results.back();
    std::printf("60 min against 1 min: content x%.0f, resident growth %+.2f MiB against %+.2f MiB, "
                "save time per MiB x%.2f\n",
                longCall.contentMiB / shortCall.contentMiB, longCall.residentGrowthMiB,
                shortCall.residentGrowthMiB,
                (longCall.saveMs / longCall.contentMiB) /
                    (shortCall.saveMs / shortCall.contentMiB));

    const double unsynced = hourWriteSeconds(dir.path(), false);
    const double synced = hourWriteSeconds(dir.path(), true);
    std::printf("an hour of audio written in %.2f s without sync, %.2f s with a sync every "
                "second: x%.1f, %.3f%% of the hour\n",
                unsynced, synced, synced / unsynced, synced / 36.0);
    return 0;
}
