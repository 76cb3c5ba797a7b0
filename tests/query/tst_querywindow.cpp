#include "FakeAudio.h"
#include "Fakes.h"
#include "MMControl.h"
#include "QuerySupport.h"
#include "Slider.h"
#include "Windows.h"

#include <QLabel>
#include <QPointer>
#include <QSignalSpy>

using namespace std::chrono_literals;
using namespace tova;
using namespace tova::test;

// The query window over the fake sound system, with message boxes and the save dialog answered,
// in a German locale: seconds are written with a decimal comma.
class QueryWindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_temp;
    RecordingsFolder m_folder;
    FakeAudio m_audio;
    MessageBoxesFake m_boxes;
    FileDialogsFake m_dialogs;

    frmMain2* window() { return DefaultForm<frmMain2>::loaded(); }
    MMControl* mci2() { return queryControl<MMControl>("mci2"); }
    Slider* slider() { return queryControl<Slider>("sld2"); }
    void open(const QString& name) {
        selectFile(name);
        chooseOpen();
    }

private slots:
    void initTestCase() {
        useTemporaryFolderIn(m_temp);
        QVERIFY(writeRecording("a.wav", 1500) && writeRecording("long.wav", 70000));
        QVERIFY(QFile(RecordingsFolder::file("notes.txt")).open(QIODevice::WriteOnly));
        QVERIFY(QDir(RecordingsFolder::path()).mkdir("old"));
    }
    // Each load lists every file of the folder, but not its folders.
    void init() {
        m_boxes->shown.clear();
        DefaultForm<frmMain2>::Show();
        QCOMPARE(queryControl<FileListBox>("File1")->count(), 3);
    }
    void cleanup() {
        m_boxes->answers = {vbNo};
        unloadAllWindows();
    }

    // With no file selected the device is given the folder, which it fails to open, silently.
    void openWithoutSelection() {
        chooseOpen();
        QCOMPARE(mci2()->FileName(), RecordingsFolder::path() + u'/');
        QVERIFY(mci2()->Error() != 0 && m_boxes->shown.isEmpty());
    }

    void playback_data() {
        QTest::addColumn<int>("ms");
        QTest::addColumn<QString>("seconds");
        QTest::addColumn<int>("value");
        QTest::newRow("61234 ms") << 61234 << "61,234" << 61;
        QTest::newRow("2500 ms, half to even") << 2500 << "2,5" << 2;
        QTest::newRow("3500 ms, half to even") << 3500 << "3,5" << 4;
        QTest::newRow("to the end") << 75000 << "70" << 70;
    }
    // What the labels and the slider show; stop keeps the place, play at the end starts over.
    void playback() {
        QFETCH(int, ms);
        QFETCH(QString, seconds);
        QFETCH(int, value);
        open("long.wav");
        mci2()->press(MciButton::Play);
        m_audio.play(std::chrono::milliseconds(ms));
        QTRY_COMPARE(queryControl<QLabel>("lblNow2")->text(), "现在时间： " + seconds + "  秒");
        QCOMPARE(queryControl<QLabel>("lblTotal2")->text(), QStringLiteral("总时间： 70  秒"));
        QCOMPARE(slider()->Value(), value);
        mci2()->press(MciButton::Stop);
        mci2()->press(MciButton::Play);
        m_audio.play(1000ms);
        QCOMPARE(mci2()->Position(), (ms < 70000 ? ms : 0) + 1000);
        QCOMPARE(slider()->Max(), 10);
    }

    // While recording the range grows by 10 s when the position is exactly at its end, not when
    // past it; stop sets it to the position reached, unless that is 0.
    void recordingRange() {
        mci2()->press(MciButton::Record);
        mci2()->press(MciButton::Stop);
        mci2()->press(MciButton::Record);
        for (const int ms : {10000, 10600}) {
            m_audio.capture(std::chrono::milliseconds(ms));
            QVERIFY(QSignalSpy(mci2(), &MMControl::StatusUpdate).wait());
            QCOMPARE(slider()->Max(), 20);
        }
        mci2()->press(MciButton::Stop);
        QCOMPARE(slider()->Max(), 21);
    }

    // Each row: how the user leaves a recording made in the window (the exit button, the close
    // box, opening another file), then the answers to the save prompt and the save dialog.
    void changedContent_data() {
        QTest::addColumn<bool>("stays");
        QTest::newRow("exit, nothing recorded") << false;
        QTest::newRow("exit, yes, file chosen") << false;
        QTest::newRow("exit, yes, dialog cancelled") << true;
        QTest::newRow("exit, yes, disk full") << true;
        QTest::newRow("exit, no") << false;
        QTest::newRow("exit, cancel") << true;
        QTest::newRow("close box, no") << false;
        QTest::newRow("open, yes, file chosen") << false;
        QTest::newRow("open, yes, disk full") << true;
        QTest::newRow("open, cancel") << true;
    }
    void changedContent() {
        QFETCH(bool, stays);
        const QString row = QString::fromUtf8(QTest::currentDataTag());
        const bool recorded = !row.contains("nothing"), full = row.contains("disk full");
        const bool saved = row.contains("file chosen");
        const QString target = m_temp.filePath(row + ".wav");
        open("a.wav");
        if (recorded) mci2()->press(MciButton::Record);
        m_audio.capture(2000ms);
        const QPointer<MMControl> device = mci2();
        m_boxes->answers = {row.contains("yes") ? vbYes : row.contains("no") ? vbNo : vbCancel};
        m_dialogs->answers = {saved || full ? target : QString()};
        const FullDisk disk(full ? 0 : std::numeric_limits<qint64>::max());
        if (row.startsWith("open")) open("long.wav");
        if (row.startsWith("exit")) QTest::mouseClick(queryControl("Command1"), Qt::LeftButton);
        if (row.startsWith("close box")) window()->close();

        const QList<FakeMessageBoxes::Shown>& shown = m_boxes->shown;
        QCOMPARE(shown.size(), int(recorded) + int(full));
        if (recorded)
            QCOMPARE(shown[0].prompt + shown[0].title + QString::number(shown[0].style),
                     QStringLiteral("需要保存吗？已经有更改！35"));
        if (full) QCOMPARE(shown[1].prompt, "录音没有保存：" + device->ErrorMessage());
        QCOMPARE(WavProbe(target).milliseconds(), saved ? 2000 : 0LL);
        QVERIFY(device);
        QCOMPARE(bool(window()), stays || row.startsWith("open"));
        if (!window()) QCOMPARE(device->Mode(), int(recorded ? mciModeNotOpen : mciModeStop));
        if (!window()) return;
        QCOMPARE(window()->isChanged(), stays ? frmMain2::kTrue : frmMain2::kFalse);
        QCOMPARE(window()->MousePointer(), int(vbDefault));
        QCOMPARE(device->Length(), stays ? 2000 : 70000);
    }
};

QTEST_MAIN(QueryWindowTest)
#include "tst_querywindow.moc"
