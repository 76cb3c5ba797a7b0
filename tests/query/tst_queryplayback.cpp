#include "MMControl.h"
#include "QuerySupport.h"

#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

using namespace std::chrono_literals;
using namespace tova;
using namespace tova::test;

namespace {

// What the line carried: the stretch from the first to the last loud sample.
struct Heard {
    double seconds = 0;
    double rms = 0;
    double frequency = 0;
};

Heard analyse(const QByteArray& pcm, int rate) {
    std::vector<double> samples(pcm.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        qint16 sample;
        std::memcpy(&sample, pcm.constData() + 2 * i, sizeof sample);
        samples[i] = sample / 32768.0;
    }
    // Above the noise of resampling, well below the tone's peak.
    const auto loud = [](double sample) { return std::abs(sample) > 0.25; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud).base();
    Heard heard;
    if (first >= last) return heard;
    // Periods from one rising edge to the next, with hysteresis against the noise that two
    // resamplings leave near zero; the median keeps periods across a dropout out.
    double sum = 0;
    bool positive = *first > 0;
    std::ptrdiff_t lastRise = -1;
    std::vector<double> periods;
    for (auto it = first; it != last; ++it) {
        sum += *it * *it;
        if (positive ? *it < -0.1 : *it > 0.1) {
            positive = !positive;
            if (positive && lastRise >= 0) periods.push_back(double(it - first - lastRise));
            if (positive) lastRise = it - first;
        }
    }
    heard.seconds = double(last - first) / rate;
    heard.rms = std::sqrt(sum / double(last - first));
    if (periods.empty()) return heard;
    std::vector<double> sorted = periods;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double median = sorted[sorted.size() / 2];
    double total = 0;
    int kept = 0;
    for (double period : periods)
        if (std::abs(period - median) < 0.2 * median) total += period, ++kept;
    heard.frequency = rate / (total / kept);
    return heard;
}

} // namespace

// Through the private sound server: the default sink "line" is what the line carries, and
// its monitor "linein" lets the test hear it.
class QueryPlaybackTest : public QObject {
    Q_OBJECT
private slots:
    void playsRecordingToTheLine() {
        QTemporaryDir temp;
        useTemporaryFolderIn(temp);
        RecordingsFolder folder;
        const QString name = QStringLiteral("2007-3-15140509.wav");
        QVERIFY(writeRecording(name, 1500ms));

        DefaultForm<frmMain2>::Show();
        selectFile(name);
        chooseOpen();
        auto* mci2 = queryControl<MMControl>("mci2");
        QCOMPARE(mci2->Error(), 0);
        QCOMPARE(mci2->Length(), 1500);

        QProcess listener;
        listener.start("parec", {"--device=linein", "--raw", "--format=s16le", "--channels=1",
                                 QStringLiteral("--rate=%1").arg(kToneRate), "--latency-msec=30"});
        QVERIFY2(listener.waitForStarted(), qPrintable(listener.errorString()));
        // The null sink's monitor streams silence while idle: data means the listener is on.
        QByteArray heard;
        QTRY_VERIFY((heard += listener.readAllStandardOutput()).size() > 0);

        mci2->press(MciButton::Play);
        QTRY_VERIFY(mci2->Position() > 0 && mci2->Position() < mci2->Length());
        QTRY_COMPARE_WITH_TIMEOUT(mci2->Position(), mci2->Length(), 10000);
        QTRY_COMPARE(queryControl<QLabel>("lblNow2")->text(), QStringLiteral("现在时间： 1.5  秒"));
        // The tail of the tone may still be on its way through the server.
        QTRY_VERIFY_WITH_TIMEOUT(
            analyse(heard += listener.readAllStandardOutput(), kToneRate).seconds > 1.4, 5000);
        listener.kill();
        listener.waitForFinished();
        DefaultForm<frmMain2>::Unload();

        const Heard tone = analyse(heard, kToneRate);
        QVERIFY2(tone.seconds < 1.6, qPrintable(QString::number(tone.seconds)));
        QVERIFY2(std::abs(tone.rms - kToneAmplitude / std::sqrt(2.0)) < 0.05,
                 qPrintable(QString::number(tone.rms)));
        QVERIFY2(std::abs(tone.frequency - kToneFrequency) < 10,
                 qPrintable(QString::number(tone.frequency)));
    }
};

QTEST_MAIN(QueryPlaybackTest)
#include "tst_queryplayback.moc"
