#include "ArchivePath.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tova;

class ArchivePathTest : public QObject {
    Q_OBJECT
private slots:
    void name_data();
    void name();
    void recordingOfTheSameSecondGetsASuffix();
};

void ArchivePathTest::name_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("expected");

    QTest::newRow("worked example") << "/opt/Rec"
                                    << "2007-3-15"
                                    << "14:05:09"
                                    << "/opt/Rec/录音数据/2007-3-15140509.wav";
    QTest::newRow("hour without leading zero") << "/opt/Rec"
                                               << "2008-1-5"
                                               << "9:03:07"
                                               << "/opt/Rec/录音数据/2008-1-590307.wav";
    QTest::newRow("designator stays") << "/opt/Rec"
                                      << "2007-3-15"
                                      << "2:05:09 PM"
                                      << "/opt/Rec/录音数据/2007-3-1520509 PM.wav";
    QTest::newRow("other time separator stays") << "/opt/Rec"
                                                << "15.03.2007"
                                                << "14.05.09"
                                                << "/opt/Rec/录音数据/15.03.200714.05.09.wav";
    QTest::newRow("full-width colon stays") << "/opt/Rec"
                                            << "2007-3-15"
                                            << "14：05：09"
                                            << "/opt/Rec/录音数据/2007-3-1514：05：09.wav";
    QTest::newRow("slash in date") << "/opt/Rec"
                                   << "2007/3/15"
                                   << "14:05:09"
                                   << "/opt/Rec/录音数据/2007-3-15140509.wav";
    QTest::newRow("backslash in date") << "/opt/Rec"
                                       << "15\\3\\2007"
                                       << "14:05:09"
                                       << "/opt/Rec/录音数据/15-3-2007140509.wav";
    QTest::newRow("spaces in date stay") << "/opt/Rec"
                                         << "15 Mar 2007"
                                         << "14:05:09"
                                         << "/opt/Rec/录音数据/15 Mar 2007140509.wav";
    QTest::newRow("program in the root folder") << "/"
                                                << "2007-3-15"
                                                << "14:05:09"
                                                << "//录音数据/2007-3-15140509.wav";
}

void ArchivePathTest::name() {
    QFETCH(QString, folder);
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QString, expected);
    QCOMPARE(archivePath(folder, date, time), expected);
}

void ArchivePathTest::recordingOfTheSameSecondGetsASuffix() {
    QTemporaryDir app;
    QVERIFY(QDir(app.path()).mkdir(QStringLiteral("录音数据")));
    const QString stem = app.path() + QStringLiteral("/录音数据/2007-3-15140509");
    const auto take = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly);
    };

    QCOMPARE(archivePath(app.path(), "2007-3-15", "14:05:09"), stem + ".wav");
    QVERIFY(take(stem + ".wav"));
    QCOMPARE(archivePath(app.path(), "2007-3-15", "14:05:09"), stem + "_2.wav");
    QVERIFY(take(stem + "_2.wav"));
    QCOMPARE(archivePath(app.path(), "2007-3-15", "14:05:09"), stem + "_3.wav");
    // Another second is free again.
    QCOMPARE(archivePath(app.path(), "2007-3-15", "14:05:10"),
             app.path() + QStringLiteral("/录音数据/2007-3-15140510.wav"));
}

QTEST_GUILESS_MAIN(ArchivePathTest)
#include "tst_recorder_archivepath.moc"
