#include "MMControl.h"
#include "ToneIntoLine.h"
#include "WaveDevice.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace tova;
using namespace tova::test;

// The device on the private sound server: the null sink "line" and its monitor as the input.
class TestMMControlPulse : public QObject {
    Q_OBJECT

private slots:
    void recordsToneFromLine() {
        MMControl mci;
        mci.setFileName(m_dir.filePath("~temp.wav"));
        mci.setCommand("Open");
        mci.press(MciButton::Record);
        QCOMPARE(mci.Error(), 0);
        QCOMPARE(mci.Mode(), int(mciModeRecord));

        ToneIntoLine tone(440, 4);
        QVERIFY(tone.playing());
        QTRY_VERIFY_WITH_TIMEOUT(mci.Length() >= 2500, 15000);
        QCOMPARE(mci.Position(), mci.Length());

        // Saved while still recording, as the recorder does when the call is hung up.
        const QString saved = m_dir.filePath("call.wav");
        mci.setFileName(saved);
        mci.setCommand("Save");
        QCOMPARE(mci.Error(), 0);
        const int lengthAtSave = mci.Length();
        mci.setCommand("close");

        const WavProbe wav(saved);
        QVERIFY(wav.readable);
        QCOMPARE(wav.sampleRate, 8000);
        QCOMPARE(wav.channels, 1);
        QVERIFY(wav.milliseconds() >= lengthAtSave - 50);
        QVERIFY2(wav.rms() > 0.1, qPrintable(QString::number(wav.rms())));
        QVERIFY2(qAbs(wav.toneHz() - 440) < 5, qPrintable(QString::number(wav.toneHz())));
    }

    void playbackReachesLine() {
        const QString toneFile = m_dir.filePath("tone.wav");
        QVERIFY(writeTone(toneFile, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 2, 2000, 660));
        MMControl player;
        player.setFileName(toneFile);
        player.setCommand("open");
        QCOMPARE(player.Length(), 2000);

        // A second device hears the line while the first plays into it.
        MMControl listener;
        listener.setFileName(m_dir.filePath("heard.wav"));
        listener.setCommand("Open");
        listener.setCommand("Record");
        QCOMPARE(listener.Mode(), int(mciModeRecord));

        QElapsedTimer clock;
        clock.start();
        player.press(MciButton::Play);
        QCOMPARE(player.Error(), 0);
        QCOMPARE(player.Mode(), int(mciModePlay));
        // The position is what has been heard, not what has been handed to the server.
        int seenMidway = 0;
        while (player.Mode() == mciModePlay && clock.elapsed() < 10000) {
            QTest::qWait(50);
            const int position = player.Position();
            QVERIFY2(
                position <= clock.elapsed() + 60,
                qPrintable(QStringLiteral("%1 ms after %2").arg(position).arg(clock.elapsed())));
            if (position > 0 && position < player.Length()) ++seenMidway;
        }
        QCOMPARE(player.Mode(), int(mciModeStop));
        QCOMPARE(player.Position(), 2000);
        QVERIFY(seenMidway > 5);
        QVERIFY(clock.elapsed() >= 1900);

        listener.setCommand("Stop");
        listener.setFileName(m_dir.filePath("heard.wav"));
        listener.setCommand("Save");
        const WavProbe heard(m_dir.filePath("heard.wav"));
        QVERIFY2(heard.rms() > 0.05, qPrintable(QString::number(heard.rms())));
        QVERIFY2(qAbs(heard.toneHz() - 660) < 8, qPrintable(QString::number(heard.toneHz())));
    }

    void recordingStopsWhenServerDies() {
        MMControl mci;
        mci.setFileName(m_dir.filePath("lost.wav"));
        mci.setCommand("Open");
        mci.setCommand("Record");
        ToneIntoLine tone(440, 5);
        QVERIFY(tone.playing());
        QTRY_VERIFY_WITH_TIMEOUT(mci.Length() >= 1000, 15000);

        // The test's own private sound server dies under the recording. Its socket lies beside
        // its runtime folder, which holds its process id.
        const QString socket =
            qEnvironmentVariable("PULSE_SERVER").remove(QRegularExpression("^unix:"));
        QFile pidFile(QFileInfo(socket).dir().filePath("run/pulse/pid"));
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        const pid_t server = pidFile.readAll().trimmed().toInt();
        QVERIFY(server > 0);
        QCOMPARE(::kill(server, SIGKILL), 0);
        QTRY_COMPARE_WITH_TIMEOUT(mci.Mode(), int(mciModeStop), 10000);
        QCOMPARE(mci.Error(), int(mciErrInputLost));
        const int kept = mci.Length();
        QVERIFY(kept >= 1000);

        mci.setFileName(m_dir.filePath("lost.wav"));
        mci.setCommand("Save");
        QCOMPARE(mci.Error(), 0);
        QVERIFY(qAbs(WavProbe(m_dir.filePath("lost.wav")).milliseconds() - kept) <= 1);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestMMControlPulse)
#include "tst_mmcontrol_pulse.moc"
