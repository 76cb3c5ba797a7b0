#include "Fakes.h"
#include "RecordingsFolder.h"
#include "ToneIntoLine.h"

#include "MMControl.h"
#include "frmMain.h"

#include <QTest>

using namespace tova;
using namespace tova::test;

// The recorder on the real sound server, with a 440 Hz tone on the line.
class RecorderSoundTest : public QObject {
    Q_OBJECT
private slots:
    void callIsStoredWithItsSound() {
        constexpr double kTone = 440;
        RecordingsFolder folder;
        MessageBoxesFake boxes;
        ToneIntoLine line(kTone, 20);
        QVERIFY(line.playing());

        frmMain& w = DefaultForm<frmMain>::Show();
        QTRY_VERIFY(w.changed());
        QTRY_VERIFY_WITH_TIMEOUT(w.mci->Length() >= 2000, 10000);
        QCOMPARE(w.mci->Mode(), int(mciModeRecord));
        const QDateTime before = QDateTime::currentDateTime();
        QVERIFY(DefaultForm<frmMain>::Unload());
        const QDateTime after = QDateTime::currentDateTime();
        QCOMPARE(boxes->shown.size(), 0);

        const QStringList names = RecordingsFolder::namesBetween(before, after);
        const QStringList files = RecordingsFolder::files();
        QCOMPARE(files.size(), 1);
        QVERIFY2(names.contains(files.first()),
                 qPrintable(files.first() + " / " + names.join(", ")));

        const WavProbe wav(RecordingsFolder::file(files.first()));
        QVERIFY2(wav.milliseconds() >= 2000, qPrintable(QString::number(wav.milliseconds())));
        // Tenth-second blocks: the loud ones must all be the tone, at its level.
        const std::size_t block = std::size_t(wav.sampleRate / 10);
        int loud = 0, onTone = 0;
        double power = 0;
        QStringList heard;
        for (std::size_t start = 0; start + block <= wav.mono.size(); start += block) {
            const double rms = wav.rms(start, start + block);
            if (rms < 0.05) continue;
            ++loud;
            power += rms * rms;
            const double hz = wav.toneHz(start, start + block);
            onTone += qAbs(hz - kTone) < 10 ? 1 : 0;
            heard << QString::number(hz, 'f', 0);
        }
        QVERIFY2(loud >= 15, qPrintable(QString::number(loud)));
        QVERIFY2(onTone >= loud * 9 / 10, qPrintable(heard.join(' ')));
        // A sine at half scale has an RMS of 0.354.
        QVERIFY2(std::abs(std::sqrt(power / loud) - 0.354) < 0.1,
                 qPrintable(QString::number(std::sqrt(power / loud))));
    }
};

QTEST_MAIN(RecorderSoundTest)
#include "tst_recorder_sound.moc"
