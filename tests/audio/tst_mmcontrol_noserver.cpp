#include "MMControl.h"
#include "WavProbe.h"
#include "WaveDevice.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace tova;
using namespace tova::test;

// Runs with PULSE_SERVER naming a socket where no sound server listens.
class TestMMControlNoServer : public QObject {
    Q_OBJECT

private slots:
    void recordAndPlayFailWithoutHanging() {
        QTemporaryDir dir;
        QVERIFY(
            writeTone(dir.filePath("tone.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 500));
        MMControl mci;
        mci.setFileName(dir.filePath("tone.wav"));
        mci.setCommand("Open");
        QCOMPARE(mci.Mode(), int(mciModeStop));

        QElapsedTimer clock;
        clock.start();
        mci.press(MciButton::Record);
        QCOMPARE(mci.Mode(), int(mciModeStop));
        QCOMPARE(mci.Error(), int(mciErrNoInput));
        QVERIFY(!mci.ErrorMessage().isEmpty());

        mci.press(MciButton::Play);
        QCOMPARE(mci.Mode(), int(mciModeStop));
        QCOMPARE(mci.Error(), int(mciErrNoOutput));
        QVERIFY(clock.elapsed() < 5000);

        // The content is untouched and still saves.
        QCOMPARE(mci.Length(), 500);
        mci.setFileName(dir.filePath("copy.wav"));
        mci.setCommand("Save");
        QCOMPARE(mci.Error(), 0);
        QCOMPARE(WavProbe(dir.filePath("copy.wav")).frames(), 4000);
    }
};

QTEST_MAIN(TestMMControlNoServer)
#include "tst_mmcontrol_noserver.moc"
