#include "CallTags.h"
#include "FileNames.h"
#include "Journal.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <ctime>
#include <mutex>
#include <thread>

using namespace tova;

namespace {

constexpr int kAttemptsPerCopy = 100;

CallAttempt missedCall(const QString& key, const QString& number, const QDateTime& at) {
    return {key, kMissed, number, {}, at, at, {}, at.addSecs(8), 1};
}

bool writeCall(const QString& path, const QString& number, const QString& date, int ms) {
    SF_INFO info{0, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* file = sf_open(fileNameBytes(path), SFM_WRITE, &info);
    if (!file) return false;
    sf_set_string(file, SF_STR_TITLE, number.toUtf8());
    sf_set_string(file, SF_STR_COMMENT, kIncoming.toUtf8());
    sf_set_string(file, SF_STR_DATE, date.toUtf8());
    const std::vector<short> silence(std::size_t(ms * 8));
    sf_write_short(file, silence.data(), sf_count_t(silence.size()));
    return sf_close(file) == 0;
}

void useZone(const char* zone) {
    qputenv("TZ", zone);
    tzset();
}

// What another copy of the program does: the arguments say what, in which folder.
int child(const QStringList& args) {
    Journal journal(args.at(2));
    if (args.at(1) == "note") {
        journal.saveAttempt(missedCall("kill", "13800138000", QDateTime::currentDateTime()));
        journal.setNote(journal.callLog({}, {}, 0, 1).rows.value(0).id, "回电话");
        std::puts("saved");
        std::fflush(stdout);
        for (;;)
            QThread::sleep(1); // until killed
    }
    for (int i = 0; i < kAttemptsPerCopy; ++i)
        journal.saveAttempt(missedCall(args.at(1) + QString::number(i), QString::number(i),
                                       QDateTime::currentDateTime()));
    return 0;
}

} // namespace

// The journal through the real SQLite, with other copies of the program in processes of their
// own.
class JournalTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString folder() const { return m_dir.filePath("录音数据"); }

private slots:
    void init() {
        QDir(folder()).removeRecursively();
        QVERIFY(QDir().mkpath(folder()));
    }

    // A note reported saved is there after a kill -9; the journal is private to the user.
    void noteSurvivesKill() {
        QProcess copy;
        copy.start(QCoreApplication::applicationFilePath(), {"note", folder()});
        QVERIFY(copy.waitForReadyRead(10000));
        QCOMPARE(copy.readLine(), "saved\n");
        ::kill(pid_t(copy.processId()), SIGKILL);
        QVERIFY(copy.waitForFinished());
        Journal journal(folder());
        const CallLogPage page = journal.callLog({}, {}, 0, 10);
        QCOMPARE(page.total, 1);
        QCOMPARE(page.rows[0].note, "回电话");
        QCOMPARE(page.rows[0].direction, kMissed);
        QCOMPARE(int(QFile::permissions(Journal::path(folder())) & 0x0FFF), 0x0600);
        QCOMPARE(int(QFile::permissions(QFileInfo(Journal::path(folder())).path()) & 0x0FFF),
                 0x0700);
    }

    // Two copies writing at the same time, with a third reading: nothing is lost.
    void twoCopies() {
        QProcess one, two;
        one.start(QCoreApplication::applicationFilePath(), {"a", folder()});
        two.start(QCoreApplication::applicationFilePath(), {"b", folder()});
        Journal reader(folder());
        while (one.state() != QProcess::NotRunning || two.state() != QProcess::NotRunning) {
            reader.callLog({"1", {}, {}, {}, 0}, {}, 0, 10);
            QTest::qWait(5);
        }
        QCOMPARE(one.exitCode() + two.exitCode(), 0);
        QCOMPARE(reader.callLog({}, {}, 0, 0).total, 2 * kAttemptsPerCopy);
        QCOMPARE(reader.missedCount(), 2 * kAttemptsPerCopy);
        reader.markMissedSeen();
        QCOMPARE(Journal(folder()).missedCount(), 0);
    }

    // A journal that is no database is moved aside, never deleted, and made again from the
    // recordings' tags; once, though several connections find it broken at the same moment.
    void brokenMovedAside() {
        QVERIFY(writeCall(folder() + "/a.wav", "13800138000", "2024-05-20T14:30:15+08:00", 500));
        QVERIFY(QDir().mkpath(QFileInfo(Journal::path(folder())).path()));
        QFile garbage(Journal::path(folder()));
        QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(4096, 'x')));
        garbage.close();
        QStringList problems;
        std::mutex told;
        const auto open = [&] {
            Journal journal(folder());
            const std::lock_guard lock(told);
            problems << journal.takeProblem();
        };
        std::vector<std::thread> others;
        for (int i = 0; i < 3; ++i)
            others.emplace_back(open);
        open();
        for (std::thread& other : others)
            other.join();
        problems.removeAll(QString());
        QCOMPARE(problems.size(), 1);
        const QString moved = problems[0].section(u' ', 1, 1);
        QVERIFY2(moved.startsWith(Journal::path(folder()) + ".broken-"), qPrintable(problems[0]));
        QCOMPARE(QDir(QFileInfo(moved).path()).entryList({"*.broken-*[0-9]"}).size(), 1);
        QFile kept(moved);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray(4096, 'x'));
        Journal journal(folder());
        QCOMPARE(journal.learn(10).done, 1);
        QCOMPARE(journal.callLog({}, {}, 0, 10).rows.value(0).number, "13800138000");
        QCOMPARE(journal.takeProblem(), QString());
    }

    // A start tag with its offset from UTC is a moment; one without is the local time it says,
    // wherever the journal was made.
    void startTags_data() {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("shown"); // in New York, the journal made in Shanghai
        QTest::newRow("with offset") << "2024-05-20T14:30:15+08:00"
                                     << "2024-05-20 02:30:15";
        QTest::newRow("without offset") << "2024-05-20T14:30:15"
                                        << "2024-05-20 14:30:15";
    }
    void startTags() {
        QFETCH(QString, tag);
        QFETCH(QString, shown);
        QVERIFY(writeCall(folder() + "/a.wav", "1", tag, 500));
        useZone("Asia/Shanghai");
        Journal(folder()).learn(10);
        useZone("America/New_York");
        Journal journal(folder());
        const QDate day = QDate::fromString(shown.left(10), Qt::ISODate);
        const CallLogPage page = journal.callLog({{}, {}, day, day, 0}, {}, 0, 10);
        useZone("UTC");
        QCOMPARE(page.total, 1);
        QCOMPARE(page.rows[0].start.toString("yyyy-MM-dd HH:mm:ss"), shown);
    }

    // The recorder's file joins its attempt, also when the index read it first, and a call
    // recovered after a crash finds its attempt by its tags.
    void recordingJoinsAttempt_data() {
        QTest::addColumn<bool>("learnedFirst");
        QTest::addColumn<bool>("recovered");
        QTest::newRow("stored") << false << false;
        QTest::newRow("index read it first") << true << false;
        QTest::newRow("recovered") << true << true;
    }
    void recordingJoinsAttempt() {
        QFETCH(bool, learnedFirst);
        QFETCH(bool, recovered);
        const QDateTime answered = QDateTime::fromString("2024-05-20T14:30:10+08:00", Qt::ISODate);
        Journal journal(folder());
        journal.saveAttempt({"k",
                             kIncoming,
                             "13800138000",
                             "ZHANG",
                             answered.addSecs(-9),
                             answered.addSecs(-4),
                             answered,
                             {},
                             2});
        QVERIFY(writeCall(folder() + "/a.wav", "13800138000", "2024-05-20T14:30:11+08:00", 1500));
        if (learnedFirst) journal.learn(10);
        recovered ? journal.linkRecovered("a.wav") : journal.linkRecording("k", "a.wav");
        journal.learn(10);
        const CallLogPage page = journal.callLog({}, {}, 0, 10);
        QCOMPARE(page.total, 1);
        QCOMPARE(page.rows[0].fileName, "a.wav");
        QCOMPARE(page.rows[0].milliseconds, 1500);
        QCOMPARE(page.rows[0].rings, 2);
        QCOMPARE(page.rows[0].start, answered.addSecs(-9));
        QVERIFY(QFile::remove(folder() + "/a.wav"));
        journal.learn(0);
        QCOMPARE(journal.callLog({}, {}, 0, 10).rows.value(0).fileName, QString());
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3) return child(app.arguments());
    JournalTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_journal.moc"
