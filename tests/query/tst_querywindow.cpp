#include "FakeAudio.h"
#include "Fakes.h"
#include "MMControl.h"
#include "QuerySupport.h"
#include "Slider.h"
#include "Windows.h"

#include <QLabel>
#include <QPointer>
#include <QSignalSpy>

#include <optional>

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

private slots:
    void initTestCase() {
        useTemporaryFolderIn(m_temp);
        QVERIFY(writeRecording("a.wav", 1500) && writeRecording("long.wav", 70000));
        QVERIFY(QFile(RecordingsFolder::file("notes.txt")).open(QIODevice::WriteOnly));
        QVERIFY(QDir(RecordingsFolder::path()).mkdir("old"));
    }
    void init() {
        m_boxes->shown.clear();
        DefaultForm<frmMain2>::Show();
    }
    void cleanup() {
        m_boxes->answers = {vbNo};
        unloadAllWindows();
    }

    // Every file of the folder is listed, not its folders; the menu command opens the selected
    // file, or with none selected, the folder, which fails without a word.
    void listAndOpen() {
        QCOMPARE(queryControl<FileListBox>("File1")->count(), 3);
        chooseOpen();
        QCOMPARE(mci2()->FileName(), RecordingsFolder::path() + u'/');
        QVERIFY(mci2()->Error() != 0);
        QCOMPARE(window()->MousePointer(), int(vbDefault));
        QVERIFY(m_boxes->shown.isEmpty());
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
        QTRY_COMPARE(label("lblNow2"), "现在时间： " + seconds + "  秒");
        QCOMPARE(label("lblTotal2"), QStringLiteral("总时间： 70  秒"));
        QCOMPARE(slider()->Value(), value);
        mci2()->press(MciButton::Stop);
        mci2()->press(MciButton::Play);
        m_audio.play(1000ms);
        QCOMPARE(mci2()->Position(), (ms < 70000 ? ms : 0) + 1000);
        QCOMPARE(slider()->Max(), 10);
    }

    // While recording, the range grows by 10 s each time the position is exactly at its end;
    // stop sets it to the position reached, unless that is 0.
    void recordingRange() {
        mci2()->press(MciButton::Record);
        mci2()->press(MciButton::Stop);
        mci2()->press(MciButton::Record);
        const std::pair<int, int> steps[] = {{10000, 20}, {5000, 20}, {5000, 30}, {10600, 30}};
        for (const auto& [ms, max] : steps) {
            m_audio.capture(std::chrono::milliseconds(ms));
            QVERIFY(QSignalSpy(mci2(), &MMControl::StatusUpdate).wait());
            QCOMPARE(slider()->Max(), max);
        }
        QCOMPARE(slider()->Value(), 31);
        mci2()->press(MciButton::Stop);
        QCOMPARE(slider()->Max(), 31);
    }

    // Each row: how the user leaves the recording made in the window (exit button, close box,
    // opening another file), then the answers to the save prompt and the save dialog.
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
        const bool chosen = full || row.contains("file chosen");
        const QString target = m_temp.filePath(row + ".wav");
        open("a.wav");
        if (recorded) mci2()->press(MciButton::Record);
        m_audio.capture(2000ms);
        const QPointer<MMControl> device = mci2();
        m_boxes->answers = {row.contains("yes") ? vbYes : row.contains("no") ? vbNo : vbCancel};
        m_dialogs->answers = {chosen ? target : QString()};
        std::optional<FullDisk> disk;
        if (full) disk.emplace();
        if (row.startsWith("open")) open("long.wav");
        if (row.startsWith("exit")) QTest::mouseClick(queryControl("Command1"), Qt::LeftButton);
        if (row.startsWith("close box")) window()->close();

        const QList<FakeMessageBoxes::Shown>& shown = m_boxes->shown;
        QCOMPARE(shown.size(), int(recorded) + int(full));
        if (recorded)
            QCOMPARE(shown[0].prompt + shown[0].title + QString::number(shown[0].style),
                     QStringLiteral("需要保存吗？已经有更改！35"));
        if (full) QCOMPARE(shown[1].prompt, "录音没有保存：" + device->ErrorMessage());
        QCOMPARE(WavProbe(target).milliseconds(), chosen && !full ? 2000 : 0LL);
        QVERIFY(device);
        if (stays) {
            QCOMPARE(window()->isChanged(), frmMain2::kTrue);
            QCOMPARE(window()->MousePointer(), int(vbDefault));
            QCOMPARE(device->Length(), 2000);
        } else if (row.startsWith("open")) {
            QCOMPARE(window()->isChanged(), frmMain2::kFalse);
            QCOMPARE(device->Length(), 70000);
        } else {
            QVERIFY(!window());
            QCOMPARE(device->Mode(), int(recorded ? mciModeNotOpen : mciModeStop));
        }
    }

private:
    frmMain2* window() { return DefaultForm<frmMain2>::loaded(); }
    MMControl* mci2() { return queryControl<MMControl>("mci2"); }
    Slider* slider() { return queryControl<Slider>("sld2"); }
    QString label(const char* name) { return queryControl<QLabel>(name)->text(); }
    void open(const QString& name) {
        selectFile(name);
        chooseOpen();
    }
};

QTEST_MAIN(QueryWindowTest)
#include "tst_querywindow.moc"
