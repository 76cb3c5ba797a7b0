#include "AppInfo.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

// Where a copy of this program, in a folder of its own, keeps its recordings.
class TestRecordingsFolder : public QObject {
    Q_OBJECT
private slots:
    void folder_data() {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("seenAt"); // the program's folder, in a mount namespace
        QTest::addColumn<QString>("expected");
        QTest::newRow("portable copy") << true << "" << "program/录音数据";
        QTest::newRow("installed") << false << "" << "data/tova/录音数据";
        QTest::newRow("under /usr, by root") << true << "/usr/local/bin" << "data/tova/录音数据";
        QTest::newRow("under /opt, by root") << true << "/opt" << "data/tova/录音数据";
    }
    void folder() {
        QFETCH(bool, writable);
        QFETCH(QString, seenAt);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("program") &&
                QFile::copy(QCoreApplication::applicationFilePath(), dir.filePath("program/tst")));
        QVERIFY(::chmod(QFile::encodeName(dir.filePath("program")), writable ? 0755 : 0555) == 0);
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
        // Root writes anywhere; without its capabilities it meets the folder's mode like anyone.
        QStringList run{dir.filePath("program/tst"), "--recordings-folder"};
        if (::geteuid() == 0) run = QStringList{"setpriv", "--bounding-set=-all"} + run;
        // Root of a namespace of its own, where the folder it owns is seen under /usr or /opt.
        if (!seenAt.isEmpty())
            run = QStringList{"unshare", "--mount", "--map-root-user", "sh", "-c",
                              R"(mount --bind "$0" "$1" && exec "$1/tst" --recordings-folder)",
                              dir.filePath("program"), seenAt};
        QProcess program;
        program.start(run.takeFirst(), run);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(QString::fromUtf8(program.readAllStandardOutput()), dir.filePath(expected));
        // Made on first use, private to the user; a folder beside the program is never made.
        const QFileInfo made(dir.filePath(expected));
        QCOMPARE(made.exists() ? int(made.permissions() & 0x7077) : 0,
                 seenAt.isEmpty() && writable ? 0 : 0x7000);
        ::chmod(QFile::encodeName(dir.filePath("program")), 0755);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (app.arguments().contains("--recordings-folder"))
        return QTextStream(stdout) << tova::recordingsFolder(), 0;
    TestRecordingsFolder test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_recordingsfolder.moc"
