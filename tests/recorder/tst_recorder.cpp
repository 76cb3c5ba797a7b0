#include "CallTags.h"
#include "FakeAudio.h"
#include "Fakes.h"
#include "MMControl.h"
#include "RecordingsFolder.h"
#include "Recovery.h"
#include "SystemFaults.h"
#include "WavProbe.h"
#include "Windows.h"
#include "frmMain.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace tova;
using namespace tova::test;
using namespace std::chrono_literals;

namespace {

const QString kFirst = QStringLiteral("2007-3-15140509.wav");
const QString kSecond = QStringLiteral("2007-3-15140509_2.wav");
constexpr int kPcm16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
enum Setup { Plain, Planted, OtherDevice, NoFolder, Gone, Full, NoReplace, Stalled, StalledBack };
const QString kStalled = QStringLiteral("磁盘没有响应，录音可能未写入");

int mode(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 0777 : -1;
}

} // namespace

// The recorder window over the fake sound system, with a clock that stands still.
class RecorderTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        qputenv("TMPDIR", QFile::encodeName(m.emplace().temp.path()));
        m->clock->dateFormat = "yyyy/M/d"; // "/" cannot be in a name
        currentCall() = {"13800138000", "ZHANG SAN", kIncoming, {}};
    }
    void cleanup() {
        delete DefaultForm<frmMain>::loaded(); // left open by a failing test
        QDir(qEnvironmentVariable("TOVA_FAULTS")).removeRecursively();
        ::umount2(QFile::encodeName(RecordingsFolder::path()).constData(), MNT_DETACH);
        m.reset();
    }

    // What the hang-up stores, whatever lies in the temporary and recordings folders.
    void storesTheCall_data() {
        QTest::addColumn<int>("setup");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<int>>("ms"); // 0: cut short
        const auto row = [](const char* name, Setup setup, QStringList names, QList<int> ms) {
            QTest::newRow(name) << int(setup) << names << ms;
        };
        row("plain", Plain, {kFirst}, {2000});
        row("link planted", Planted, {kFirst, kSecond}, {10000, 2000});
        row("other device, same second", OtherDevice, {kFirst, kSecond}, {1000, 3000});
        row("no recordings folder", NoFolder, {kFirst}, {2000});
        row("folder gone at hang-up", Gone, {kFirst}, {2500});
        row("working folder full", Full, {kFirst}, {0});
        row("a rename that cannot refuse", NoReplace, {kFirst}, {2000});
        // Neither holds up the window; the stalled store is done once the disk answers.
        row("disk stalled at hang-up", Stalled, {kFirst}, {2000});
        row("disk stalled, back by the hang-up", StalledBack, {kFirst}, {2000});
    }
    void storesTheCall() {
        QFETCH(int, setup);
        QFETCH(QStringList, names);
        QFETCH(QList<int>, ms);
        const QString outside = m->temp.filePath("own.wav");
        QVERIFY(writeTone(outside, kPcm16, 44100, 2, 10000, 300));
        if (setup == Planted) QVERIFY(QFile::link(outside, RecordingsFolder::file(kFirst)));
        if (setup == NoFolder) QVERIFY(QDir(RecordingsFolder::path()).removeRecursively());
        QVERIFY(setSystemFault("noreplace-einval", setup == NoReplace) &&
                setSystemFault("disk-stalled", setup >= Stalled));
        LoopGaps gaps;
        if (setup == Full &&
            ::mount("tova", QFile::encodeName(RecordingsFolder::path()).constData(), "tmpfs", 0,
                    "size=64k"))
            QSKIP("mounting a small filesystem is not permitted here");
        frmMain& w = DefaultForm<frmMain>::Show();
        QTRY_COMPARE(w.mci->Mode(), int(mciModeRecord));
        m->audio.capture(2s);
        if (setup == OtherDevice) {
            MMControl other;
            for (const char* command : {"Open", "Record"})
                other.setCommand(command);
            m->audio.capture(1s);
            other.setFileName(RecordingsFolder::file(kFirst));
            other.setCommand("Save");
            QCOMPARE(other.Error(), 0);
        } else if (setup == Gone) {
            QVERIFY(QDir(RecordingsFolder::path()).removeRecursively());
            QCOMPARE(DefaultForm<frmMain>::Unload(), false);
            QCOMPARE(m->boxes->shown.size(), 1);
            QVERIFY(QDir().mkpath(RecordingsFolder::path()));
            m->audio.capture(500ms);
        } else if (setup == Full) {
            for (int second = 0; second < 10; ++second)
                m->audio.capture(1s);
            QCOMPARE(w.mci->Mode(), int(mciModeStop));
            // The recording's fault, not the error of the last command, which the next clears.
            w.mci->press(MciButton::Prev);
            QVERIFY(QSignalSpy(&w.Timer1, &QTimer::timeout).wait());
            QCOMPARE(w.Label1->text(), "录音失败：磁盘已满或无法写入");
        } else if (setup >= Stalled) {
            QTRY_COMPARE_WITH_TIMEOUT(w.Label1->text(), kStalled, 8000);
            QVERIFY(setSystemFault("disk-stalled", setup == Stalled));
            QTRY_COMPARE(w.Label1->text(),
                         setup == Stalled ? kStalled : "录音进行中............. ");
        }
        QVERIFY(DefaultForm<frmMain>::Unload());
        if (setup >= Stalled) {
            QVERIFY2(gaps.longestMs() < 500, qPrintable(QString::number(gaps.longestMs())));
            QVERIFY(setSystemFault("disk-stalled", false));
            QTRY_VERIFY(QDir(workingFolder()).isEmpty(QDir::Files));
        }

        QCOMPARE(RecordingsFolder::files(), names);
        for (int i = 0; i < names.size(); ++i) {
            const QString path = RecordingsFolder::file(names[i]);
            const WavProbe wav(path); // a planted link stays, and what it leads to is untouched
            QCOMPARE(mode(path), QFileInfo(path).isSymLink() ? 0777 : 0600);
            QVERIFY2(qAbs(wav.toneHz() - (wav.sampleRate == 8000 ? 440 : 300)) < 5,
                     qPrintable(QString::number(wav.toneHz())));
            const qint64 got = wav.milliseconds();
            QVERIFY2(ms[i] ? got == ms[i] : got > 2000 && got < 6000,
                     qPrintable(QString::number(got)));
        }
        // The recorder's call, last by name, tells who was on the line and when it began.
        const CallInfo tags = readCallTags(RecordingsFolder::file(names.last())).call;
        QCOMPARE(QStringList({tags.number, tags.name, tags.direction}),
                 QStringList({"13800138000", "ZHANG SAN", "呼入"}));
        QCOMPARE(tags.start, m->clock->moments.first());
        QCOMPARE(QDir(workingFolder()).entryList(QDir::Files), QStringList());
        QVERIFY(mode(workingFolder()) == 0700 || setup == Gone);
        if (setup == NoFolder) QCOMPARE(mode(RecordingsFolder::path()), 0700);
    }

    // The name is the date, then the time without its ASCII colons, read at the hang-up, the
    // date first. Readings: the start of the recording, the date, the time.
    void namesTheCall_data() {
        QTest::addColumn<QString>("dateFormat");
        QTest::addColumn<QString>("timeFormat");
        QTest::addColumn<QList<QDateTime>>("readings");
        QTest::addColumn<QString>("name");
        const QDateTime at(QDate(2008, 1, 5), QTime(9, 3, 7)),
            pm(QDate(2007, 3, 15), QTime(14, 5, 9));
        QTest::newRow("no leading zeros") << "yyyy-M-d"
                                          << "H:mm:ss" << QList{at, at, at} << "2008-1-590307.wav";
        QTest::newRow("designator") << "yyyy-M-d"
                                    << "h:mm:ss AP" << QList{pm, pm, pm} << "2007-3-1520509 PM.wav";
        QTest::newRow("other separators stay")
            << "d.M.yyyy"
            << "H.mm：ss" << QList{pm, pm, pm} << "15.3.200714.05：09.wav";
        QTest::newRow("straddling midnight")
            << "yyyy-M-d"
            << "H:mm:ss"
            << QList{pm, QDateTime(QDate(2007, 3, 15), QTime(23, 59, 59)),
                     QDateTime(QDate(2007, 3, 16), QTime(0, 0, 1))}
            << "2007-3-1500001.wav";
    }
    void namesTheCall() {
        QFETCH(QString, dateFormat);
        QFETCH(QString, timeFormat);
        QFETCH(QList<QDateTime>, readings);
        QFETCH(QString, name);
        m->clock->dateFormat = dateFormat;
        m->clock->timeOfDayFormat = timeFormat;
        m->clock->moments = readings;
        frmMain& w = DefaultForm<frmMain>::Show();
        QTRY_COMPARE(w.mci->Mode(), int(mciModeRecord));
        m->audio.capture(1s);
        QVERIFY(DefaultForm<frmMain>::Unload());
        QCOMPARE(RecordingsFolder::files(), QStringList{name});
    }

    // Calls left in the working folder, named for who writes them (%1 this host, %2 this process,
    // %3 its start, %4 this boot; 4194305 is above any process id): the live device's stays, and
    // so does one whose writer runs, whose lock is held or that another host writes; the rest are
    // stored once under the time of their last write, and one without audio goes. "taken": the
    // first name is taken.
    void recoversWhatNobodyHolds_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("files");
        const QString ended = "tova-%1-4194305.%3.%4-abc123.wav";
        QTest::newRow("an older copy's, taken") << "tova-%2.wav" << QStringList{kFirst, kSecond};
        QTest::newRow("process ended") << ended << QStringList{kFirst};
        QTest::newRow("process ended, locks fail") << ended << QStringList{kFirst};
        QTest::newRow("process ended, lock held") << ended << QStringList{};
        QTest::newRow("process id used again")
            << "tova-%1-%2.1.%4-abc123.wav" << QStringList{kFirst};
        QTest::newRow("process runs") << "tova-%1-%2.%3.%4-abc123.wav" << QStringList{};
        QTest::newRow("another boot") << "tova-%1-%2.%3.0bad0bad-abc123.wav" << QStringList{kFirst};
        QTest::newRow("another host") << "tova-elsewhere-999999.1.%4-abc123.wav" << QStringList{};
    }
    void recoversWhatNobodyHolds() {
        QFETCH(QString, name);
        QFETCH(QStringList, files);
        const QString row = QString::fromUtf8(QTest::currentDataTag());
        QVERIFY(setSystemFault("flock-enolck", row.contains("locks fail")));
        MMControl live;
        for (const char* command : {"Open", "Record"})
            live.setCommand(command);
        m->audio.capture(1s);
        // A program started meanwhile (the browser) holds none of the recording's files.
        QProcess child;
        child.start("sh", {"-c", "ls -l /proc/$$/fd"});
        QVERIFY(child.waitForFinished() && !child.readAll().contains("录音中"));

        QFile stat("/proc/self/stat"), boot("/proc/sys/kernel/random/boot_id");
        QVERIFY(stat.open(QIODevice::ReadOnly) && boot.open(QIODevice::ReadOnly));
        const QString host = QSysInfo::machineHostName();
        const QStringList self{host, QString::number(QCoreApplication::applicationPid()),
                               stat.readAll().split(')').last().split(' ').value(20), boot.read(8)};
        const QString cut = workingFolder() + '/' + name.arg(self[0], self[1], self[2], self[3]);
        const QString silent = workingFolder() + "/tova-" + host + "-4194305.1.1-000000.wav";
        QVERIFY(writeTone(cut, kPcm16, 8000, 1, 1500) && writeTone(silent, kPcm16, 8000, 1, 0));
        QFile header(cut); // as a crash leaves it: the data's length never written
        QVERIFY(header.open(QIODevice::ReadWrite) && header.seek(40) &&
                header.write("\0\0\0\0", 4));
        QVERIFY(header.flush() && header.setFileTime(QDateTime(QDate(2007, 3, 15), QTime(14, 5, 9)),
                                                     QFileDevice::FileModificationTime));
        if (row.contains("held")) QCOMPARE(::flock(header.handle(), LOCK_EX), 0);
        if (row.contains("taken"))
            QVERIFY(QFile(RecordingsFolder::file(kFirst)).open(QIODevice::WriteOnly));
        // The message comes before any window: it must bring the program's face itself.
        QApplication::setFont(QFont("DejaVu Sans"));
        QString face;
        m->boxes->whileShown = [&] { face = QApplication::font().family(); };

        for (int start = 0; start < 2; ++start)
            QVERIFY(recoverInterruptedCalls());
        QCOMPARE(RecordingsFolder::files(), files);
        QCOMPARE(QDir(workingFolder()).entryList(QDir::Files).size(), files.isEmpty() ? 2 : 1);
        QCOMPARE(m->boxes->shown.size(), int(!files.isEmpty()));
        if (files.isEmpty()) return;
        QCOMPARE(WavProbe(RecordingsFolder::file(files.last())).milliseconds(), 1500);
        QCOMPARE(mode(RecordingsFolder::file(files.last())), 0600);
        QCOMPARE(face, "WenQuanYi Micro Hei");
        const QString prompt = m->boxes->shown.first().prompt;
        QVERIFY2(prompt.contains("找回了 1 个") && prompt.endsWith("\n" + files.last()),
                 qPrintable(prompt));
    }

    // A call hung up while the disk does not answer, whose name is taken before the disk
    // answers, stays in the working folder for the next start, and the user is told.
    void lateStoreFailureTells() {
        QVERIFY(setSystemFault("disk-stalled", true));
        frmMain& w = DefaultForm<frmMain>::Show();
        QTRY_COMPARE(w.mci->Mode(), int(mciModeRecord));
        m->audio.capture(2s);
        QTRY_COMPARE_WITH_TIMEOUT(w.Label1->text(), kStalled, 8000);
        QVERIFY(DefaultForm<frmMain>::Unload());
        QVERIFY(QFile(RecordingsFolder::file(kFirst)).open(QIODevice::WriteOnly));
        QVERIFY(setSystemFault("disk-stalled", false));
        QTRY_COMPARE(m->boxes->shown.size(), 1);
        QCOMPARE(m->boxes->shown[0].prompt,
                 QString("录音未能保存到 %1\n原因：无法保存“%1”：已经有这个名字的文件。\n录音仍在"
                         "录音文件夹的“.录音中”文件夹里，下次启动程序时会自动找回。")
                     .arg(RecordingsFolder::file(kFirst)));
        const QStringList kept = QDir(workingFolder()).entryList(QDir::Files);
        QCOMPARE(kept.size(), 1);
        QCOMPARE(WavProbe(workingFolder() + '/' + kept[0]).milliseconds(), 2000);
    }

private:
    struct Fixture {
        QTemporaryDir temp;
        FakeAudio audio;
        ClockFake clock;
        MessageBoxesFake boxes;
        RecordingsFolder folder;
    };
    std::optional<Fixture> m;
};

QTEST_MAIN(RecorderTest)
#include "tst_recorder.moc"
