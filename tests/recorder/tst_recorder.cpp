#include "CallTags.h"
#include "FakeAudio.h"
#include "Fakes.h"
#include "MMControl.h"
#include "RecordingsFolder.h"
#include "Recovery.h"
#include "WavProbe.h"
#include "frmMain.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <sys/mount.h>
#include <sys/stat.h>

using namespace tova;
using namespace tova::test;
using namespace std::chrono_literals;

namespace {

const QString kFirst = QStringLiteral("2007-3-15140509.wav");
const QString kSecond = QStringLiteral("2007-3-15140509_2.wav");
constexpr int kPcm16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
enum Setup { Plain, Planted, OtherDevice, NoFolder, Gone, Full };

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
    }
    void storesTheCall() {
        QFETCH(int, setup);
        QFETCH(QStringList, names);
        QFETCH(QList<int>, ms);
        const QString outside = m->temp.filePath("own.wav");
        QVERIFY(writeTone(outside, kPcm16, 44100, 2, 10000, 300));
        if (setup == Planted) QVERIFY(QFile::link(outside, RecordingsFolder::file(kFirst)));
        if (setup == NoFolder) QVERIFY(QDir(RecordingsFolder::path()).removeRecursively());
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
        }
        QVERIFY(DefaultForm<frmMain>::Unload());

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
        const QDateTime at(QDate(2008, 1, 5), QTime(9, 3, 7)), pm(QDate(2007, 3, 15), QTime(14, 5, 9));
        QTest::newRow("no leading zeros") << "yyyy-M-d" << "H:mm:ss" << QList{at, at, at}
                                          << "2008-1-590307.wav";
        QTest::newRow("designator") << "yyyy-M-d" << "h:mm:ss AP" << QList{pm, pm, pm}
                                    << "2007-3-1520509 PM.wav";
        QTest::newRow("other separators stay") << "d.M.yyyy" << "H.mm：ss" << QList{pm, pm, pm}
                                               << "15.3.200714.05：09.wav";
        QTest::newRow("straddling midnight")
            << "yyyy-M-d" << "H:mm:ss"
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

    // Calls left in the working folder: the one a running device holds stays, the rest are
    // stored once under the time of their last write; one without audio goes.
    void recoversWhatNobodyHolds() {
        MMControl live;
        for (const char* command : {"Open", "Record"})
            live.setCommand(command);
        m->audio.capture(1s);
        const QString cut = workingFolder() + "/tova-1.wav",
                      silent = workingFolder() + "/tova-0.wav";
        QVERIFY(writeTone(cut, kPcm16, 8000, 1, 1500) && writeTone(silent, kPcm16, 8000, 1, 0));
        QFile header(cut); // as a crash leaves it: the data's length never written
        QVERIFY(header.open(QIODevice::ReadWrite) && header.seek(40) &&
                header.write("\0\0\0\0", 4));
        QVERIFY(header.flush() && header.setFileTime(QDateTime(QDate(2007, 3, 15), QTime(14, 5, 9)),
                                                     QFileDevice::FileModificationTime));
        QVERIFY(QFile(RecordingsFolder::file(kFirst)).open(QIODevice::WriteOnly));
        // The message comes before any window: it must bring the program's face itself.
        QApplication::setFont(QFont("DejaVu Sans"));
        QString face;
        m->boxes->whileShown = [&] { face = QApplication::font().family(); };

        for (int start = 0; start < 2; ++start)
            QVERIFY(recoverInterruptedCalls());
        QCOMPARE(RecordingsFolder::files(), (QStringList{kFirst, kSecond}));
        QCOMPARE(WavProbe(RecordingsFolder::file(kSecond)).milliseconds(), 1500);
        QCOMPARE(mode(RecordingsFolder::file(kSecond)), 0600);
        QCOMPARE(QDir(workingFolder()).entryList(QDir::Files).size(), 1);
        QCOMPARE(m->boxes->shown.size(), 1);
        QCOMPARE(face, "WenQuanYi Micro Hei");
        const QString prompt = m->boxes->shown.first().prompt;
        QVERIFY2(prompt.contains("找回了 1 个") && prompt.endsWith("\n" + kSecond),
                 qPrintable(prompt));
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
