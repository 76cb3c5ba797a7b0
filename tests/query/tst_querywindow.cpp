#include "FakeAudio.h"
#include "Fakes.h"
#include "FileNames.h"
#include "MMControl.h"
#include "QuerySupport.h"
#include "Slider.h"
#include "Windows.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>

#include <fcntl.h>
#include <sys/stat.h>

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
    const CallInfo m_in{"13800138000", "王小明", kIncoming, QDateTime({2024, 5, 20}, {14, 30, 15})};
    // "通话.wav" in GBK, as a Windows PC names it.
    const QString m_gbk = fileNameFromBytes("\xcd\xa8\xbb\xb0.wav");
    QStringList shownFiles() {
        QStringList names;
        for (const QListWidgetItem* item :
             queryControl<FileListBox>("File1")->findItems("*", Qt::MatchWildcard))
            names << item->text();
        return names;
    }

    QString shownDetails() {
        QStringList shown;
        for (const char* name : {"lblNumber", "lblName", "lblDirection", "lblStart", "lblLength"}) {
            shown << queryControl<QLabel>(name)->text();
            if (queryControl<QLabel>(name)->textFormat() != Qt::PlainText) shown << "markup";
        }
        return shown.join(u'|');
    }

private slots:
    void initTestCase() {
        useTemporaryFolderIn(m_temp);
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_temp.filePath("cache")));
        QVERIFY(writeRecording("a.wav", 1500) && writeRecording("long.wav", 70000));
        QVERIFY(writeTaggedRecording("in.wav", m_in, 1500));
        QVERIFY(writeTaggedRecording(
            "out.wav",
            {"+8613800138000", "<i>WANG</i>", kOutgoing, QDateTime({2024, 5, 21}, {9, 0})}, 2000));
        QVERIFY(writeTaggedRecording(
            "raw.wav", {"=1+2", "A\t\"B\",C" + QString(40, u'x'), kLocalRecording, {}}, 500));
        QVERIFY(writeTaggedRecording(
            m_gbk, {"01088886666", "李四", kIncoming, QDateTime({2024, 5, 19}, {8, 0})}, 1000));
        QVERIFY(writeRecording(".hidden.wav", 500));
        QVERIFY(QFile(RecordingsFolder::file("notes.txt")).open(QIODevice::WriteOnly));
        QVERIFY(QDir(RecordingsFolder::path()).mkdir("old"));
    }
    // Each load lists every file of the folder, but not its folders nor its hidden files (the
    // journal's folder is both); a name in GBK bytes as GB18030 reads it.
    void init() {
        m_boxes->shown.clear();
        DefaultForm<frmMain2>::Show();
        QCOMPARE(shownFiles(), QStringList({"a.wav", "in.wav", "long.wav", "notes.txt", "out.wav",
                                            "raw.wav", "通话.wav"}));
    }
    void cleanup() {
        m_boxes->answers = {vbNo};
        unloadAllWindows();
    }

    // Every open that fails says why. With no file selected the device is given the folder. A
    // file gone since the list was read is no more listed, and nothing can record into its name.
    // "%1": the path the device was given. A file opens after one that failed.
    void failedOpenTells_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("bytes"); // written before the window opens
        QTest::addColumn<QString>("message");
        const QByteArray wav = QByteArray::fromHex("524946462c00000057415645666d7420100000000100010"
                                                   "0401f0000803e00000200100064617461040000000000");
        const QString damaged = "“%1”是损坏或不完整的 WAV 文件，无法打开。";
        QTest::newRow("nothing selected") << "" << QByteArray() << "“%1”不是文件，无法打开。";
        QTest::newRow("gone since listed") << "gone.wav" << wav << "“%1”不是文件，无法打开。";
        QTest::newRow("no audio") << "notes.txt" << QByteArray()
                                  << "“%1”不是可以读取的声音文件，无法打开。";
        QTest::newRow("cut off in its header") << "cut.wav" << wav.left(30) << damaged;
        QTest::newRow("LIST chunk too long")
            << "list.wav" << wav.left(36) + QByteArray::fromHex("4c49535400ffff7f") + wav.mid(36)
            << damaged;
    }
    void failedOpenTells() {
        QFETCH(QString, file);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        QFile written(RecordingsFolder::file(file));
        const auto remove = qScopeGuard([&] {
            if (!bytes.isEmpty()) written.remove();
        });
        if (!bytes.isEmpty()) {
            unloadAllWindows();
            QVERIFY(written.open(QIODevice::WriteOnly) && written.write(bytes) == bytes.size());
            written.close();
            DefaultForm<frmMain2>::Show();
        }
        if (!file.isEmpty()) selectFile(file);
        if (file == "gone.wav") QVERIFY(written.remove());
        chooseOpen();
        QCOMPARE(m_boxes->shown.size(), 1);
        QCOMPARE(m_boxes->shown[0].prompt, message.arg(RecordingsFolder::file(file)));
        QCOMPARE(mci2()->Mode(), int(mciModeNotOpen));
        QVERIFY(!shownFiles().contains("gone.wav"));
        open("a.wav");
        QCOMPARE(mci2()->Length(), 1500);
    }

    // Recording over an opened file needs its copy in the working folder: without one the
    // window says so, and the file stays as it was.
    void recordingThatCannotStartTells() {
        open("in.wav");
        QVERIFY(QDir(workingFolder()).removeRecursively());
        QFile blocker(workingFolder());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        const auto restore = qScopeGuard([&] { blocker.remove(); });
        mci2()->press(MciButton::Record);
        QTRY_COMPARE(m_boxes->shown.size(), 1);
        QCOMPARE(m_boxes->shown[0].prompt,
                 "无法写入录音的工作文件，请检查磁盘空间和录音文件夹的权限。");
        QCOMPARE(mci2()->Mode(), int(mciModeStop));
        QCOMPARE(mci2()->Length(), 1500);
    }

    // A file whose name is GBK bytes (录音.wav) opens, plays and is saved like any other.
    void gbkFileName() {
        const QByteArray folder = QFile::encodeName(m_temp.path());
        QVERIFY(writeTone(m_temp.filePath("gbk"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 1500));
        QCOMPARE(::rename(folder + "/gbk", folder + "/\xc2\xbc\xd2\xf4.wav"), 0);
        mci2()->setFileName(fileNameFromBytes(folder + "/\xc2\xbc\xd2\xf4.wav"));
        for (const char* command : {"open", "Step", "Play"})
            mci2()->setCommand(command);
        m_audio.play(200ms);
        QCOMPARE(QList({mci2()->Error(), mci2()->Position(), mci2()->Length()}),
                 QList({0, 1200, 1500}));
        mci2()->setFileName(fileNameFromBytes(folder + "/\xc2\xbc\xd2\xf4\xb8\xb1\xb1\xbe.wav"));
        mci2()->setCommand("Save");
        QCOMPARE(::rename(folder + "/\xc2\xbc\xd2\xf4\xb8\xb1\xb1\xbe.wav", folder + "/gbk"), 0);
        QCOMPARE(WavProbe(m_temp.filePath("gbk")).milliseconds(), 1500);
    }

    // Selecting a file shows its call as plain text, cleaned as caller ID is; a file without
    // tags has its last change as start, one without audio nothing. A file changed while the
    // window was closed is read again, also when the change kept its modification time.
    void details_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");
        const QString in = "13800138000|王小明|呼入|2024-5-20 14:30:15|1.5 秒";
        QTest::newRow("incoming") << "in.wav" << in;
        QTest::newRow("markup") << "out.wav"
                                << "+8613800138000|<i>WANG</i>|呼出|2024-5-21 9:00:00|2 秒";
        QTest::newRow("cleaned") << "raw.wav"
                                 << "=1+2|A\"B\",C" + QString(26, u'x') + "|录音|modified|0.5 秒";
        QTest::newRow("untagged") << "a.wav"
                                  << "|||modified|1.5 秒";
        QTest::newRow("no audio") << "notes.txt"
                                  << "||||";
        QTest::newRow("GBK name") << "通话.wav"
                                  << "01088886666|李四|呼入|2024-5-19 8:00:00|1 秒";
        QTest::newRow("retagged while closed") << "in.wav" << QString(in).replace("138", "139");
        QTest::newRow("retagged, same modification time")
            << "in.wav" << QString(in).replace("138", "139");
    }
    void details() {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        const ClockFake clock;
        const QString row = QString::fromUtf8(QTest::currentDataTag());
        QTRY_COMPARE(QFile::permissions(journalFile()) & ~(QFile::ReadUser | QFile::WriteUser),
                     QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(QFileInfo(QFileInfo(journalFile()).path()).permissions() & 0x0077, 0);
        unloadAllWindows();
        if (row.contains("same modification time")) {
            // Known to the index as it now is, before the edit.
            DefaultForm<frmMain2>::Show();
            selectFile(file);
            QTRY_VERIFY(shownDetails().startsWith(m_in.number));
            unloadAllWindows();
        }
        CallInfo call = m_in;
        call.number.replace("138", "139");
        const QDateTime modified = QFileInfo(RecordingsFolder::file(file)).lastModified();
        struct stat before {};
        ::stat(fileNameBytes(RecordingsFolder::file(file)), &before);
        if (row.contains("retagged")) QVERIFY(writeTaggedRecording(file, call, 1500));
        // To the nanosecond, as a tag editor that keeps the time leaves it.
        const timespec times[2] = {before.st_atim, before.st_mtim};
        if (row.contains("same modification time"))
            QCOMPARE(::utimensat(AT_FDCWD, fileNameBytes(RecordingsFolder::file(file)), times, 0),
                     0);
        DefaultForm<frmMain2>::Show();
        selectFile(file);
        expected.replace("modified", clock->dateText(modified.date()) + u' ' +
                                         clock->timeText(modified.time()));
        QTRY_COMPARE(shownDetails(), expected);
        if (row.contains("retagged")) QVERIFY(writeTaggedRecording(file, m_in, 1500));
    }

    // A note written in the details is saved when the field is left, and kept.
    void note() {
        selectFile("in.wav");
        auto* field = queryControl<QLineEdit>("txtNote");
        QTRY_VERIFY(field->isEnabled());
        QTest::mouseClick(field, Qt::LeftButton);
        typeText(field, "回访 Zhang");
        QTest::keyClick(field, Qt::Key_Tab);
        unloadAllWindows();
        DefaultForm<frmMain2>::Show();
        selectFile("in.wav");
        QTRY_COMPARE(queryControl<QLineEdit>("txtNote")->text(), "回访 Zhang");
    }

    // Typing narrows the list to the files whose name, number or caller's name holds the text;
    // clearing the field lists every file again.
    void search_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("number") << "138" << QStringList{"in.wav", "out.wav"};
        QTest::newRow("name") << "王" << QStringList{"in.wav"};
        QTest::newRow("name, any case") << "wang" << QStringList{"out.wav"};
        QTest::newRow("file name") << "LONG" << QStringList{"long.wav"};
        QTest::newRow("note, any case") << "zhang" << QStringList{"in.wav"};
        QTest::newRow("GBK file name") << "通话" << QStringList{"通话.wav"};
        QTest::newRow("nothing") << "138x" << QStringList{};
    }
    void search() {
        QFETCH(QString, text);
        QFETCH(QStringList, files);
        auto* field = queryControl<QLineEdit>("txtSearch");
        typeText(field, text);
        QTRY_COMPARE(shownFiles(), files);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Backspace);
        QCOMPARE(shownFiles().size(), 7);
    }

    // Every call as CSV read back; a failed write says why and leaves nothing behind.
    void exportLog_data() {
        QTest::addColumn<QString>("target");
        QTest::newRow("written") << "calls.csv";
        QTest::newRow("not writable") << "taken";
        QTest::newRow("cancelled") << "";
    }
    void exportLog() {
        QFETCH(QString, target);
        QVERIFY(QDir(m_temp.path()).mkpath("export/taken"));
        const QDir folder(m_temp.filePath("export"));
        m_dialogs->answers = {target.isEmpty() ? target : folder.filePath(target)};
        const QStringList before = folder.entryList(QDir::Files);
        chooseMenu(window(), "mnuExport");
        QFile log(folder.filePath(target));
        if (target != "calls.csv") {
            QTRY_COMPARE(m_boxes->shown.size(), int(!target.isEmpty()));
            QCOMPARE(folder.entryList(QDir::Files), before);
            if (!target.isEmpty())
                QVERIFY(m_boxes->shown[0].prompt.startsWith("通话记录没有导出："));
            return;
        }
        QTRY_VERIFY(log.exists());
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray bytes = log.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        const auto stamp = [](const char* file) {
            return QFileInfo(RecordingsFolder::file(file))
                .lastModified()
                .toString("yyyy-MM-dd,HH:mm:ss");
        };
        QStringList lines = QString::fromUtf8(bytes.mid(3)).split("\r\n");
        QCOMPARE(lines.takeFirst(), "日期,时间,方向,号码,姓名,时长（秒）,备注,文件名");
        lines.sort();
        QCOMPARE(
            lines,
            QStringList({"", "2024-05-19,08:00:00,呼入,01088886666,李四,1,,通话.wav",
                         "2024-05-20,14:30:15,呼入,13800138000,王小明,1.5,回访 Zhang,in.wav",
                         "2024-05-21,09:00:00,呼出,'+8613800138000,<i>WANG</i>,2,,out.wav",
                         stamp("a.wav") + ",,,,1.5,,a.wav", stamp("long.wav") + ",,,,70,,long.wav",
                         stamp("raw.wav") + ",录音,'=1+2,\"A\"\"B\"\",C" + QString(26, u'x') +
                             "\",0.5,,raw.wav"}));
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

    // The device's own rules, in orders the window never uses: a script of commands ("+": a
    // second of audio moves), then the mode, position, length and error it leaves.
    void commands_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QList<int>>("left");
        QTest::newRow("step, back, to the end")
            << "Step Step Back Next" << QList{525, 70000, 70000, 0};
        QTest::newRow("back from the start, any case") << "bACK" << QList{525, 0, 70000, 0};
        QTest::newRow("pause keeps the place")
            << "Play + Pause Play +" << QList{526, 2000, 70000, 0};
        QTest::newRow("record over the middle")
            << "Step Record + Stop" << QList{525, 2000, 70000, 0};
        QTest::newRow("record past the end")
            << "Next Record + Pause" << QList{529, 71000, 71000, 0};
        QTest::newRow("start, unknown command") << "Next Prev Rewind" << QList{525, 0, 70000, 1};
        QTest::newRow("closed") << "close Play" << QList{524, 0, 0, 3};
    }
    void commands() {
        QFETCH(QString, script);
        QFETCH(QList<int>, left);
        open("long.wav");
        for (const QString& word : script.split(u' '))
            word == "+" ? m_audio.play(1s), m_audio.capture(1s) : mci2()->setCommand(word);
        QCOMPARE(QList({mci2()->Mode(), mci2()->Position(), mci2()->Length(), mci2()->Error()}),
                 left);
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
        open("in.wav");
        // Played where it lies, copied into the working folder only to be recorded over.
        const QString working = workingFolder(), temporary = m_temp.filePath("tmp");
        QCOMPARE(QDir(working).entryList(QDir::Files) + QDir(temporary).entryList(QDir::Files), {});
        if (recorded) mci2()->press(MciButton::Record);
        m_audio.capture(2000ms);
        QCOMPARE(QDir(working).entryList(QDir::Files).size(), int(recorded));
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
        if (saved) QCOMPARE(readCallTags(target).call.start, m_in.start);
        if (saved)
            QCOMPARE(readCallTags(target).call.number + readCallTags(target).call.name,
                     "13800138000王小明");
        QVERIFY(device);
        QCOMPARE(bool(window()), stays || row.startsWith("open"));
        if (!window()) QCOMPARE(device->Mode(), int(recorded ? mciModeNotOpen : mciModeStop));
        if (!window()) QCOMPARE(QDir(working).entryList(QDir::Files), {});
        if (!window()) return;
        QCOMPARE(window()->isChanged(), stays ? frmMain2::kTrue : frmMain2::kFalse);
        QCOMPARE(window()->MousePointer(), int(vbDefault));
        QCOMPARE(device->Length(), stays ? 2000 : 70000);
    }
};

QTEST_MAIN(QueryWindowTest)
#include "tst_querywindow.moc"
