#include "ArchivePath.h"
#include "FakeAudio.h"
#include "Fakes.h"
#include "MMControl.h"
#include "RecordingsFolder.h"
#include "Recovery.h"
#include "WavProbe.h"
#include "frmMain.h"

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
enum Setup { Plain, RecordAgain, StaleTemp, LinkedTemp, FolderTemp, LinkPlanted, OtherDevice,
             NoRecordingsFolder, FolderGoneAtHangUp, WorkingFolderFull };

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
        qputenv("TMPDIR", QFile::encodeName(m_temp.emplace().path()));
        m_audio.emplace(), m_clock.emplace(), m_boxes.emplace(), m_folder.emplace();
    }
    void cleanup() {
        delete DefaultForm<frmMain>::loaded(); // left open by a failing test
        ::umount2(QFile::encodeName(RecordingsFolder::path()).constData(), MNT_DETACH);
        m_folder.reset(), m_boxes.reset(), m_clock.reset(), m_audio.reset(), m_temp.reset();
    }

    void archiveName_data() {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<int>("copy");
        QTest::addColumn<QString>("name");
        QTest::newRow("designator stays") << "2007-3-15" << "2:05:09 PM" << 1 << "2007-3-1520509 PM";
        QTest::newRow("other separators stay") << "15.03.2007" << "14：05.09" << 1
                                               << "15.03.200714：05.09";
        QTest::newRow("slashes become dashes") << "2007/3\\15" << "14:05:09" << 3
                                               << "2007-3-15140509_3";
    }
    void archiveName() {
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(int, copy);
        QFETCH(QString, name);
        QCOMPARE(archivePath("/r", date, time, copy), "/r/" + name + ".wav");
    }

    // What the hang-up stores, whatever lies in the temporary and recordings folders.
    void storesTheCall_data() {
        QTest::addColumn<int>("setup");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<int>>("ms"); // 0: cut short
        QTest::newRow("plain") << int(Plain) << QStringList{kFirst} << QList{2000};
        QTest::newRow("stop, record") << int(RecordAgain) << QStringList{kFirst} << QList{3500};
        QTest::newRow("stale ~temp.wav") << int(StaleTemp) << QStringList{kFirst} << QList{2000};
        QTest::newRow("~temp.wav a link") << int(LinkedTemp) << QStringList{kFirst} << QList{2000};
        QTest::newRow("~temp.wav a folder") << int(FolderTemp) << QStringList{kFirst} << QList{2000};
        QTest::newRow("link planted") << int(LinkPlanted) << QStringList{kFirst, kSecond}
                                      << QList{-1, 2000};
        QTest::newRow("other device, same second") << int(OtherDevice) << QStringList{kFirst, kSecond}
                                                   << QList{1000, 3000};
        QTest::newRow("no recordings folder") << int(NoRecordingsFolder) << QStringList{kFirst}
                                              << QList{2000};
        QTest::newRow("folder gone at hang-up") << int(FolderGoneAtHangUp) << QStringList{kFirst}
                                                << QList{2500};
        QTest::newRow("working folder full") << int(WorkingFolderFull) << QStringList{kFirst}
                                             << QList{0};
    }
    void storesTheCall() {
        QFETCH(int, setup);
        QFETCH(QStringList, names);
        QFETCH(QList<int>, ms);
        const QString temp = m_temp->filePath("~temp.wav"), outside = m_temp->filePath("own.wav");
        QVERIFY(writeTone(outside, kPcm16, 44100, 2, 10000, 300));
        if (setup == StaleTemp) QVERIFY(writeTone(temp, kPcm16, 44100, 2, 10000, 300));
        if (setup == LinkedTemp) QVERIFY(QFile::link(outside, temp));
        if (setup == FolderTemp) QVERIFY(QDir().mkdir(temp));
        if (setup == LinkPlanted) QVERIFY(QFile::link(outside, RecordingsFolder::file(kFirst)));
        if (setup == NoRecordingsFolder) QVERIFY(QDir(RecordingsFolder::path()).removeRecursively());
        if (setup == WorkingFolderFull) {
            if (::mount("tova", QFile::encodeName(RecordingsFolder::path()).constData(), "tmpfs", 0,
                        "size=64k") != 0)
                QSKIP("mounting a small filesystem is not permitted here");
        }
        frmMain& w = DefaultForm<frmMain>::Show();
        QTRY_COMPARE(w.mci->Mode(), int(mciModeRecord));
        m_audio->capture(2s);
        if (setup == RecordAgain) {
            w.mci->press(MciButton::Stop);
            m_audio->capture(1s); // nobody records this
            w.mci->press(MciButton::Record);
            m_audio->capture(1500ms);
        } else if (setup == OtherDevice) {
            MMControl other;
            other.setCommand("Open");
            other.setCommand("Record");
            m_audio->capture(1s);
            other.setFileName(RecordingsFolder::file(kFirst));
            other.setCommand("Save");
            QCOMPARE(other.Error(), 0);
        } else if (setup == FolderGoneAtHangUp) {
            QVERIFY(QDir(RecordingsFolder::path()).removeRecursively());
            QCOMPARE(DefaultForm<frmMain>::Unload(), false);
            QCOMPARE(m_boxes.value()->shown.size(), 1);
            QVERIFY(m_boxes.value()->shown.first().prompt.contains(w.mci->ErrorMessage()));
            QVERIFY(QDir().mkpath(RecordingsFolder::path()));
            m_audio->capture(500ms);
        } else if (setup == WorkingFolderFull) {
            for (int second = 0; second < 10; ++second)
                m_audio->capture(1s);
            QCOMPARE(w.mci->Mode(), int(mciModeStop));
        }
        QVERIFY(DefaultForm<frmMain>::Unload());

        QCOMPARE(RecordingsFolder::files(), names);
        for (int i = 0; i < names.size(); ++i) {
            const WavProbe wav(RecordingsFolder::file(names[i]));
            if (ms[i] < 0) { // the planted link, and what it leads to, are untouched
                QCOMPARE(QFileInfo(RecordingsFolder::file(names[i])).symLinkTarget(), outside);
                QCOMPARE(wav.milliseconds(), 10000);
                continue;
            }
            QCOMPARE(mode(RecordingsFolder::file(names[i])), 0600);
            QCOMPARE(wav.sampleRate * 10 + wav.channels, 80001);
            QVERIFY2(qAbs(wav.toneHz() - 440) < 5, qPrintable(QString::number(wav.toneHz())));
            if (ms[i] > 0)
                QCOMPARE(wav.milliseconds(), ms[i]);
            else
                QVERIFY2(wav.milliseconds() > 2000 && wav.milliseconds() < 6000,
                         qPrintable(QString::number(wav.milliseconds())));
        }
        QCOMPARE(QDir(workingFolder()).entryList(QDir::Files), QStringList());
        QVERIFY(mode(workingFolder()) == 0700 || setup == FolderGoneAtHangUp);
        if (setup == NoRecordingsFolder) QCOMPARE(mode(RecordingsFolder::path()), 0700);
    }

    // Calls left in the working folder: the one a running device holds stays, the rest are
    // stored once under the time of their last write; one without audio goes.
    void recoversWhatNobodyHolds() {
        MMControl live;
        live.setCommand("Open");
        live.setCommand("Record");
        m_audio->capture(1s);
        const QString cut = workingFolder() + "/tova-cut.wav", silent = workingFolder() + "/tova-0.wav";
        QVERIFY(writeTone(cut, kPcm16, 8000, 1, 1500) && writeTone(silent, kPcm16, 8000, 1, 0));
        QFile header(cut); // as a crash leaves it: the data's length never written
        QVERIFY(header.open(QIODevice::ReadWrite) && header.seek(40) && header.write("\0\0\0\0", 4));
        QVERIFY(header.flush() && header.setFileTime(QDateTime(QDate(2007, 3, 15), QTime(14, 5, 9)),
                                                     QFileDevice::FileModificationTime));
        QVERIFY(QFile(RecordingsFolder::file(kFirst)).open(QIODevice::WriteOnly));

        for (int start = 0; start < 2; ++start)
            QVERIFY(recoverInterruptedCalls());
        QCOMPARE(RecordingsFolder::files(), (QStringList{kFirst, kSecond}));
        QCOMPARE(WavProbe(RecordingsFolder::file(kSecond)).milliseconds(), 1500);
        QCOMPARE(mode(RecordingsFolder::file(kSecond)), 0600);
        QCOMPARE(QDir(workingFolder()).entryList(QDir::Files).size(), 1);
        QCOMPARE(m_boxes.value()->shown.size(), 1);
        QVERIFY(m_boxes.value()->shown.first().prompt.contains("1 个"));
        QVERIFY(m_boxes.value()->shown.first().prompt.endsWith(kSecond));
    }

private:
    std::optional<QTemporaryDir> m_temp;
    std::optional<FakeAudio> m_audio;
    std::optional<ClockFake> m_clock;
    std::optional<MessageBoxesFake> m_boxes;
    std::optional<RecordingsFolder> m_folder;
};

QTEST_MAIN(RecorderTest)
#include "tst_recorder.moc"
