#include "Fakes.h"
#include "RecordingsFolder.h"
#include "WavProbe.h"

#include "MMControl.h"
#include "RegionalClock.h"
#include "frmMain.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <map>

using namespace tova;
using namespace tova::test;

namespace {

constexpr double kTone = 440.0;

// Power of one frequency in a block of samples (Goertzel), as a share of the block's power.
double shareOf(double frequency, const double* samples, int count, int rate) {
    const double k = 2 * std::cos(2 * M_PI * frequency / rate);
    double s1 = 0, s2 = 0, total = 0;
    for (int i = 0; i < count; ++i) {
        const double s0 = samples[i] + k * s1 - s2;
        s2 = s1;
        s1 = s0;
        total += double(samples[i]) * samples[i];
    }
    const double power = s1 * s1 + s2 * s2 - k * s1 * s2;
    return total > 0 ? 2 * power / (count * total) : 0;
}

// The strongest frequency of a block, on a 10 Hz grid from 100 Hz to 2 kHz.
int dominantFrequency(const double* samples, int count, int rate) {
    int best = 0;
    double bestShare = -1;
    for (int frequency = 100; frequency <= 2000; frequency += 10) {
        const double share = shareOf(frequency, samples, count, rate);
        if (share > bestShare) {
            bestShare = share;
            best = frequency;
        }
    }
    return best;
}

QString lineInputs() {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {"list", "short", "sink-inputs"});
    pactl.waitForFinished();
    return QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
}

} // namespace

// The recorder on the real sound server, with a 440 Hz tone on the line.
class RecorderSoundTest : public QObject {
    Q_OBJECT
private slots:
    void callIsStoredWithItsSound();
};

void RecorderSoundTest::callIsStoredWithItsSound() {
    RecordingsFolder folder;
    MessageBoxesFake boxes;
    QTemporaryDir scratch;
    const QString tone = scratch.filePath(QStringLiteral("tone.wav"));
    QVERIFY(writeTone(tone, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, 20000, kTone));

    QProcess line;
    line.start(QStringLiteral("paplay"), {QStringLiteral("--device=line"), tone});
    QVERIFY(line.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!lineInputs().isEmpty(), 10000);

    frmMain& w = DefaultForm<frmMain>::Show();
    QTRY_VERIFY(w.changed());
    QTRY_VERIFY_WITH_TIMEOUT(w.mci->Length() >= 2000, 10000);
    QCOMPARE(w.mci->Mode(), int(mciModeRecord));

    const QDateTime before = QDateTime::currentDateTime();
    QVERIFY(DefaultForm<frmMain>::Unload());
    const QDateTime after = QDateTime::currentDateTime();
    line.kill();
    line.waitForFinished();
    QCOMPARE(boxes->shown.size(), 0);

    // The name carries the date and time of the save, by the user's regional formats.
    const RegionalClock& clock = ClockSeam::get();
    QStringList names;
    for (QDateTime moment = before; moment <= after.addSecs(1); moment = moment.addSecs(1)) {
        QString date = clock.dateText(before.date());
        date.replace(u'/', u'-').replace(u'\\', u'-');
        names << date + clock.timeText(moment.time()).remove(u':') + QStringLiteral(".wav");
    }
    const QStringList files = RecordingsFolder::files();
    QCOMPARE(files.size(), 1);
    QVERIFY2(names.contains(files.first()), qPrintable(files.first() + " / " + names.join(", ")));

    const WavProbe wav(RecordingsFolder::file(files.first()));
    QVERIFY(wav.readable);
    QVERIFY2(wav.milliseconds() >= 2000, qPrintable(QString::number(wav.milliseconds())));

    // Tenth-second blocks of the first channel: the loud ones must all be the tone.
    const std::vector<double>& mono = wav.mono;
    const int block = wav.sampleRate / 10;
    int loudBlocks = 0;
    double loudPower = 0;
    std::map<int, int> dominant;
    for (size_t start = 0; start + size_t(block) <= mono.size(); start += size_t(block)) {
        double power = 0;
        for (int i = 0; i < block; ++i)
            power += mono[start + size_t(i)] * mono[start + size_t(i)];
        if (std::sqrt(power / block) < 0.05) continue;
        ++loudBlocks;
        loudPower += power / block;
        ++dominant[dominantFrequency(mono.data() + start, block, wav.sampleRate)];
    }
    QString histogram;
    for (const auto& [frequency, count] : dominant)
        histogram += QStringLiteral("%1 Hz: %2; ").arg(frequency).arg(count);
    QVERIFY2(loudBlocks >= 15, qPrintable(QString::number(loudBlocks)));
    QVERIFY2(dominant[int(kTone)] >= loudBlocks * 9 / 10, qPrintable(histogram));
    // A sine at half scale has an RMS of 0.354.
    const double rms = std::sqrt(loudPower / loudBlocks);
    QVERIFY2(std::abs(rms - 0.354) < 0.1, qPrintable(QString::number(rms)));
}

QTEST_MAIN(RecorderSoundTest)
#include "tst_recorder_sound.moc"
