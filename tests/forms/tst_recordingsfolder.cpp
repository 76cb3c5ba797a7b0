#include "AppInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

// Where a copy of this program, placed in a folder of its own, stores its recordings.
class TestRecordingsFolder : public QObject {
    Q_OBJECT
private slots:
    void folder_data() {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("dataHome");
        QTest::addColumn<QString>("expected");
        QTest::newRow("portable copy") << true << "data"
                                       << "program/录音数据";
        QTest::newRow("installed, XDG_DATA_HOME") << false << "data"
                                                  << "data/tova/录音数据";
        QTest::newRow("installed, default") << false << ""
                                            << "home/.local/share/tova/录音数据";
    }
    void folder() {
        QFETCH(bool, writable);
        QFETCH(QString, dataHome);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("program") && QDir(dir.path()).mkpath("home"));
        const QString copy = dir.filePath("program/tst");
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        if (!writable) QVERIFY(::chmod(QFile::encodeName(dir.filePath("program")), 0555) == 0);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir.filePath("home"));
        env.remove("XDG_DATA_HOME");
        if (!dataHome.isEmpty()) env.insert("XDG_DATA_HOME", dir.filePath(dataHome));
        QProcess program;
        program.setProcessEnvironment(env);
        // Root writes anywhere; without its capabilities it meets the folder's mode like anyone.
        if (::geteuid() == 0)
            program.start("setpriv", {"--bounding-set=-all", copy, "--recordings-folder"});
        else
            program.start(copy, {"--recordings-folder"});
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(QString::fromUtf8(program.readAllStandardOutput()), dir.filePath(expected));

        struct stat made {};
        QCOMPARE(::stat(QFile::encodeName(dir.filePath(expected)), &made) == 0, !writable);
        if (!writable) QCOMPARE(made.st_mode & 0777, 0700u);
        ::chmod(QFile::encodeName(dir.filePath("program")), 0755);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (app.arguments().contains("--recordings-folder")) {
        QTextStream(stdout) << tova::recordingsFolder();
        return 0;
    }
    TestRecordingsFolder test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_recordingsfolder.moc"
