#include "Fakes.h"
#include "FileListBox.h"
#include "Form1.h"
#include "MMControl.h"
#include "PtyPair.h"
#include "QuerySupport.h"
#include "RecordingsFolder.h"
#include "ToneIntoLine.h"
#include "WavProbe.h"
#include "Windows.h"
#include "frmMain.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <numbers>

using namespace tova;
using namespace tova::test;

// One call from the ring to playing it back, through the pty line, the sound server and the
// three windows in one process.
class CallTest : public QObject {
    Q_OBJECT
private slots:
    void ringAnswerHangUpAndPlayBack() {
        constexpr double kToneHz = 440.0;
        QTemporaryDir scratch;
        useTemporaryFolderIn(scratch);
        RecordingsFolder recordings;
        MessageBoxesFake boxes;
        PortFolder ports;
        const auto line = ports.line(3);
        ScriptedModem modem(line->peerLink());
        ToneIntoLine tone(kToneHz, 60);
        QVERIFY(line->isReady() && modem.isOpen() && tone.playing());

        Form1& form = DefaultForm<Form1>::Show();
        modem.send("\r\nRING\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(form.Label1->text(), QStringLiteral("有电话请接电话"), 2000);
        QTest::mouseClick(form.Command3, Qt::LeftButton);
        frmMain* recorder = DefaultForm<frmMain>::loaded();
        QVERIFY(recorder && recorder->isVisible());
        // Nobody presses the record button: the window does.
        QTRY_COMPARE(recorder->mci->Mode(), int(mciModeRecord));
        QTRY_VERIFY_WITH_TIMEOUT(recorder->mci->Length() >= 3000, 10000);

        const QDateTime before = QDateTime::currentDateTime();
        QTest::mouseClick(form.Command4, Qt::LeftButton);
        const QStringList names = RecordingsFolder::namesBetween(before, QDateTime::currentDateTime());
        QVERIFY(!DefaultForm<frmMain>::loaded());
        QTRY_COMPARE(modem.commandLines(), (QByteArrayList{"AT H1 \r", "AT H0 \r"}));
        const QStringList files = RecordingsFolder::files();
        QCOMPARE(files.size(), 1);
        QVERIFY2(names.contains(files.first()), qPrintable(files.first() + " / " + names.join(", ")));
        // The line may take a moment to reach the recording: the tone is judged from where it starts.
        const WavProbe wav(RecordingsFolder::file(files.first()));
        std::size_t start = 0;
        while (start < wav.mono.size() && std::abs(wav.mono[start]) < 0.25)
            ++start;
        QVERIFY2(wav.milliseconds() - qint64(start) * 1000 / wav.sampleRate >= 2000,
                 qPrintable(QString::number(start)));
        QVERIFY2(std::abs(wav.rms(start) - 0.5 / std::numbers::sqrt2) < 0.05,
                 qPrintable(QString::number(wav.rms(start))));
        QVERIFY2(std::abs(wav.toneHz(start) - kToneHz) < 5,
                 qPrintable(QString::number(wav.toneHz(start))));

        QTest::mouseClick(form.Command1, Qt::LeftButton);
        selectFile(files.first());
        chooseOpen();
        auto* mci2 = queryControl<MMControl>("mci2");
        QCOMPARE(qint64(mci2->Length()), wav.milliseconds());
        mci2->press(MciButton::Play);
        QTRY_COMPARE_WITH_TIMEOUT(mci2->Position(), mci2->Length(), 10000);
        QVERIFY(boxes->shown.isEmpty());
        unloadAllWindows();
    }
};

QTEST_MAIN(CallTest)
#include "tst_call.moc"
