#include "FakeAudio.h"
#include "Fakes.h"
#include "FileListBox.h"
#include "MMControl.h"
#include "QuerySupport.h"
#include "Slider.h"
#include "TabOrder.h"
#include "Windows.h"

#include <QAbstractButton>
#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace std::chrono_literals;
using namespace tova;
using namespace tova::test;

namespace {

constexpr auto kRecorded = 2000ms;

QString nowCaption(const QString& seconds) {
    return QStringLiteral("现在时间： ") + seconds + QStringLiteral("  秒");
}

} // namespace

// The query window over the fake sound system, with message boxes and file dialogs answered.
class QueryWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(m_temp.isValid());
        useTemporaryFolderIn(m_temp);
    }
    void init() {
        m_folder.emplace();
        m_audio.emplace();
        m_boxes.emplace();
        m_dialogs.emplace();
        m_clock.emplace();
    }
    void cleanup() {
        boxes().answers = {vbNo};
        unloadAllWindows();
        QVERIFY(!queryWindow());
        m_clock.reset();
        m_dialogs.reset();
        m_boxes.reset();
        m_audio.reset();
        m_folder.reset();
    }

    void design() {
        frmMain2& window = DefaultForm<frmMain2>::Show();
        QCOMPARE(window.windowTitle(), QStringLiteral("欢迎进入语音查询"));
        QCOMPARE(sld2()->Max(), 10);
        auto* bar = window.findChild<QMenuBar*>();
        QCOMPARE(bar->actions().size(), 1);
        QCOMPARE(bar->actions().constFirst()->text(), QStringLiteral("打开语音文件"));
        QWidget* client = lblNow2()->parentWidget();
        QCOMPARE(client->size(), QSize(859, 714));
        QVERIFY(client->geometry().top() >= bar->geometry().bottom());
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.frameGeometry().topLeft(),
                 QGuiApplication::primaryScreen()->geometry().topLeft());

        int shown = 0;
        for (const QAbstractButton* button : mci2()->findChildren<QAbstractButton*>())
            shown += button->isVisibleTo(mci2()) ? 1 : 0;
        QCOMPARE(shown, 8);
        verifyTabOrder({mci2(), queryControl<QWidget>("File1"), sld2(),
                        queryControl<QWidget>("Command1"), mci2()});
    }

    void loadListsEveryFile() {
        QVERIFY(writeRecording("2007-3-15140509.wav", 500ms));
        for (const char* name : {"notes.txt", "README"})
            QVERIFY(QFile(RecordingsFolder::file(name)).open(QIODevice::WriteOnly));
        QVERIFY(QDir(RecordingsFolder::path()).mkdir("old"));

        DefaultForm<frmMain2>::Show();
        auto* list = queryControl<FileListBox>("File1");
        QStringList listed;
        for (int i = 0; i < list->count(); ++i)
            listed << list->item(i)->text();
        QCOMPARE(listed, QStringList({"2007-3-15140509.wav", "notes.txt", "README"}));
        QCOMPARE(list->Path(), RecordingsFolder::path());
        QVERIFY(!queryControl<QLabel>("lblFolderMissing")->isVisible());
    }

    void openWithoutSelection_data() {
        QTest::addColumn<bool>("folderMissing");
        QTest::newRow("nothing selected") << false;
        QTest::newRow("recordings folder missing") << true;
    }
    void openWithoutSelection() {
        QFETCH(bool, folderMissing);
        QVERIFY(writeRecording("a.wav", 1500ms));
        if (folderMissing) QVERIFY(QDir(RecordingsFolder::path()).removeRecursively());
        DefaultForm<frmMain2>::Show();
        auto* note = queryControl<QLabel>("lblFolderMissing");
        QCOMPARE(note->isVisible(), folderMissing);
        if (folderMissing) QVERIFY(note->text().contains(QStringLiteral("录音数据")));

        chooseOpen();
        QCOMPARE(mci2()->FileName(), RecordingsFolder::path() + u'/');
        if (!folderMissing) QVERIFY(mci2()->Error() != 0);
        QCOMPARE(mci2()->Length(), 0);
        QCOMPARE(queryWindow()->isChanged(), frmMain2::kFalse);
        QCOMPARE(queryWindow()->MousePointer(), int(vbDefault));
        QCOMPARE(boxes().shown.size(), 0);
    }

    void secondOpenReplacesFirst() {
        QVERIFY(writeRecording("a.wav", 1500ms));
        QVERIFY(writeRecording("b.wav", 3000ms));
        DefaultForm<frmMain2>::Show();
        open("a.wav");
        QCOMPARE(mci2()->Error(), 0);
        QCOMPARE(mci2()->Length(), 1500);
        mci2()->press(MciButton::Play);
        m_audio->play(1000ms);
        QCOMPARE(mci2()->Position(), 1000);

        open("b.wav");
        QCOMPARE(mci2()->FileName(), RecordingsFolder::file("b.wav"));
        QCOMPARE(mci2()->Mode(), int(mciModeStop));
        QCOMPARE(mci2()->Position(), 0);
        QCOMPARE(mci2()->Length(), 3000);
    }

    void openWhileChanged_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("dialogAnswer");
        QTest::addColumn<bool>("diskFull");
        QTest::addColumn<bool>("opened");
        QTest::newRow("yes, saved") << int(vbYes) << "kept.wav" << false << true;
        QTest::newRow("yes, disk full") << int(vbYes) << "kept.wav" << true << false;
        QTest::newRow("cancel") << int(vbCancel) << "" << false << false;
    }
    void openWhileChanged() {
        QFETCH(int, answer);
        QFETCH(QString, dialogAnswer);
        QFETCH(bool, diskFull);
        QFETCH(bool, opened);
        const QString target = savePath(dialogAnswer);
        const bool saved = !target.isEmpty() && !diskFull;
        QVERIFY(writeRecording("b.wav", 3000ms));
        DefaultForm<frmMain2>::Show();
        recordInWindow();
        const QString recordingFile = mci2()->FileName();
        selectFile("b.wav");
        boxes().answers = {answer};
        m_dialogs.value()->answers = {target};
        std::optional<FullDisk> full;
        if (diskFull) full.emplace();

        chooseOpen();

        verifySavePrompt();
        QCOMPARE(m_dialogs.value()->filters,
                 answer == vbYes ? QStringList{"*.wav"} : QStringList{});
        QCOMPARE(boxes().shown.size(), diskFull ? 2 : 1);
        if (diskFull)
            QVERIFY(boxes().shown.last().prompt.startsWith(QStringLiteral("录音没有保存")));
        QCOMPARE(QFile::exists(target), saved);
        if (saved) QCOMPARE(WavProbe(target).milliseconds(), qint64(kRecorded.count()));
        QCOMPARE(mci2()->FileName(), opened     ? RecordingsFolder::file("b.wav")
                                     : diskFull ? target
                                                : recordingFile);
        QCOMPARE(mci2()->Length(), opened ? 3000 : int(kRecorded.count()));
        QCOMPARE(queryWindow()->isChanged(), opened ? frmMain2::kFalse : frmMain2::kTrue);
        QCOMPARE(queryWindow()->MousePointer(), int(vbDefault));
    }

    void closeWithoutRecording() {
        QVERIFY(writeRecording("a.wav", 1500ms));
        DefaultForm<frmMain2>::Show();
        open("a.wav");
        mci2()->press(MciButton::Play);
        m_audio->play(500ms);
        const QPointer<MMControl> device = mci2();

        clickExit();
        QVERIFY(!queryWindow());
        QCOMPARE(boxes().shown.size(), 0);
        // Not sent "close": it still plays the file until it goes with the window.
        QCOMPARE(device->Mode(), int(mciModePlay));
    }

    void closingCheck_data() {
        QTest::addColumn<bool>("closeBox");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("dialogAnswer");
        QTest::addColumn<bool>("closes");
        QTest::newRow("exit, yes, saved") << false << int(vbYes) << "call.wav" << true;
        QTest::newRow("exit, yes, dialog cancelled") << false << int(vbYes) << "" << false;
        QTest::newRow("exit, no") << false << int(vbNo) << "" << true;
        QTest::newRow("exit, cancel") << false << int(vbCancel) << "" << false;
        QTest::newRow("close box, no") << true << int(vbNo) << "" << true;
    }
    void closingCheck() {
        QFETCH(bool, closeBox);
        QFETCH(int, answer);
        QFETCH(QString, dialogAnswer);
        QFETCH(bool, closes);
        const QString target = savePath(dialogAnswer);
        frmMain2& window = DefaultForm<frmMain2>::Show();
        recordInWindow();
        const QPointer<MMControl> device = mci2();
        boxes().answers = {answer};
        m_dialogs.value()->answers = {target};

        if (closeBox)
            window.close();
        else
            clickExit();

        verifySavePrompt();
        QCOMPARE(boxes().shown.size(), 1);
        QCOMPARE(QFile::exists(target), !target.isEmpty());
        if (!target.isEmpty()) QCOMPARE(WavProbe(target).milliseconds(), qint64(kRecorded.count()));
        QVERIFY(device);
        if (closes) {
            QVERIFY(!queryWindow());
            QCOMPARE(device->Mode(), int(mciModeNotOpen));
            return;
        }
        QCOMPARE(queryWindow(), &window);
        QCOMPARE(window.isChanged(), frmMain2::kTrue);
        QCOMPARE(window.MousePointer(), int(vbDefault));
        QCOMPARE(device->Mode(), int(mciModeRecord));
        QCOMPARE(device->Length(), int(kRecorded.count()));
    }

    void failedSaveAtClosing_data() {
        QTest::addColumn<bool>("diskFull");
        QTest::addColumn<QString>("dialogAnswer");
        QTest::newRow("disk full") << true << "call.wav";
        QTest::newRow("folder missing") << false << "gone/call.wav";
    }
    // The recording must survive a save that did not work, and the user must learn why.
    void failedSaveAtClosing() {
        QFETCH(bool, diskFull);
        QFETCH(QString, dialogAnswer);
        const QString target = savePath(dialogAnswer);
        frmMain2& window = DefaultForm<frmMain2>::Show();
        recordInWindow();
        std::optional<FullDisk> full;
        if (diskFull) full.emplace();
        boxes().answers = {vbYes};
        m_dialogs.value()->answers = {target};

        clickExit();
        QCOMPARE(queryWindow(), &window);
        QCOMPARE(window.isChanged(), frmMain2::kTrue);
        QCOMPARE(window.MousePointer(), int(vbDefault));
        QVERIFY(!QFile::exists(target));
        QCOMPARE(boxes().shown.size(), 2);
        const QString reason = mci2()->ErrorMessage();
        QVERIFY(!reason.isEmpty());
        QCOMPARE(boxes().shown.last().prompt, QStringLiteral("录音没有保存：") + reason);

        // Once the cause is gone, the same content is saved.
        full.reset();
        const QString retry = savePath("retry.wav");
        boxes().answers = {vbYes};
        m_dialogs.value()->answers = {retry};
        clickExit();
        QVERIFY(!queryWindow());
        QCOMPARE(WavProbe(retry).milliseconds(), qint64(kRecorded.count()));
    }

    void positionTexts_data() {
        QTest::addColumn<int>("played");
        QTest::addColumn<QString>("seconds");
        QTest::addColumn<int>("value");
        QTest::newRow("61234 ms") << 61234 << "61.234" << 61;
        QTest::newRow("half down to even") << 2500 << "2.5" << 2;
        QTest::newRow("half up to even") << 3500 << "3.5" << 4;
    }
    void positionTexts() {
        QFETCH(int, played);
        QFETCH(QString, seconds);
        QFETCH(int, value);
        QVERIFY(writeRecording("long.wav", 70s));
        DefaultForm<frmMain2>::Show();
        open("long.wav");
        mci2()->press(MciButton::Play);
        m_audio->play(std::chrono::milliseconds(played));

        QTRY_COMPARE(lblNow2()->text(), nowCaption(seconds));
        QCOMPARE(queryControl<QLabel>("lblTotal2")->text(), QStringLiteral("总时间： 70  秒"));
        QCOMPARE(sld2()->Value(), value);
        QCOMPARE(sld2()->Max(), 10);
    }

    void rangeGrowsOnlyOnExactEqualityWhileRecording() {
        DefaultForm<frmMain2>::Show();
        mci2()->press(MciButton::Record);
        m_audio->capture(10s);
        QTRY_COMPARE(sld2()->Max(), 20);
        m_audio->capture(5s);
        QTRY_COMPARE(lblNow2()->text(), nowCaption("15"));
        QCOMPARE(sld2()->Max(), 20);
        m_audio->capture(5s);
        QTRY_COMPARE(sld2()->Max(), 30);
        // Past the end without ever being on it: the range stays.
        m_audio->capture(10600ms);
        QTRY_COMPARE(lblNow2()->text(), nowCaption("30.6"));
        QCOMPARE(sld2()->Value(), 31);
        QCOMPARE(sld2()->Max(), 30);
    }

    void stopClick_data() {
        QTest::addColumn<bool>("recording");
        QTest::addColumn<int>("at");
        QTest::addColumn<int>("max");
        QTest::newRow("recording at 37 s") << true << 37000 << 37;
        // On the end of the range: playing neither grows it nor stops it.
        QTest::newRow("playing at 10 s") << false << 10000 << 10;
    }
    void stopClick() {
        QFETCH(bool, recording);
        QFETCH(int, at);
        QFETCH(int, max);
        QVERIFY(writeRecording("long.wav", 30s));
        DefaultForm<frmMain2>::Show();
        if (recording) {
            mci2()->press(MciButton::Record);
            m_audio->capture(std::chrono::milliseconds(at));
        } else {
            open("long.wav");
            mci2()->press(MciButton::Play);
            m_audio->play(std::chrono::milliseconds(at));
        }
        QTRY_COMPARE(lblNow2()->text(), nowCaption(QString::number(at / 1000)));

        mci2()->press(MciButton::Stop);
        QCOMPARE(sld2()->Max(), max);
        QCOMPARE(sld2()->Value(), at / 1000);
        QSignalSpy updates(mci2(), &MMControl::StatusUpdate);
        QVERIFY(updates.wait());
        QCOMPARE(sld2()->Max(), max);
    }

private:
    void open(const QString& name) {
        selectFile(name);
        chooseOpen();
    }
    void recordInWindow() {
        mci2()->press(MciButton::Record);
        m_audio->capture(kRecorded);
        QCOMPARE(mci2()->Mode(), int(mciModeRecord));
        QCOMPARE(queryWindow()->isChanged(), frmMain2::kTrue);
    }
    void verifySavePrompt() {
        QVERIFY(!boxes().shown.isEmpty());
        QCOMPARE(boxes().shown.first().prompt, QStringLiteral("需要保存吗？"));
        QCOMPARE(boxes().shown.first().style, 35);
        QCOMPARE(boxes().shown.first().title, QStringLiteral("已经有更改！"));
    }
    void clickExit() { QTest::mouseClick(queryControl<QPushButton>("Command1"), Qt::LeftButton); }
    // Where the save dialog is answered to save, with nothing there yet; empty for cancel.
    QString savePath(const QString& name) {
        const QString path = name.isEmpty() ? QString() : m_temp.filePath(name);
        QFile::remove(path);
        return path;
    }
    MMControl* mci2() { return queryControl<MMControl>("mci2"); }
    Slider* sld2() { return queryControl<Slider>("sld2"); }
    QLabel* lblNow2() { return queryControl<QLabel>("lblNow2"); }
    FakeMessageBoxes& boxes() { return **m_boxes; }

    QTemporaryDir m_temp;
    std::optional<RecordingsFolder> m_folder;
    std::optional<FakeAudio> m_audio;
    std::optional<MessageBoxesFake> m_boxes;
    std::optional<FileDialogsFake> m_dialogs;
    std::optional<ClockFake> m_clock;
};

QTEST_MAIN(QueryWindowTest)
#include "tst_querywindow.moc"
