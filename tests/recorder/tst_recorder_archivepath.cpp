#include "ArchivePath.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tova;

class ArchivePathTest : public QObject {
    Q_OBJECT
private slots:
    void name_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("expected");
        auto row = [](const char* name, const char* folder, const QString& date,
                      const QString& time, const QString& file) {
            QTest::newRow(name) << QString(folder) << date << time
                                << QString(folder) + u'/' + file;
        };
        row("worked example", "/opt/Rec", "2007-3-15", "14:05:09", "2007-3-15140509.wav");
        row("hour without leading zero", "/opt/Rec", "2008-1-5", "9:03:07", "2008-1-590307.wav");
        row("designator stays", "/opt/Rec", "2007-3-15", "2:05:09 PM", "2007-3-1520509 PM.wav");
        row("other time separator stays", "/opt/Rec", "15.03.2007", "14.05.09",
            "15.03.200714.05.09.wav");
        row("full-width colon stays", "/opt/Rec", "2007-3-15", "14：05：09",
            "2007-3-1514：05：09.wav");
        row("slash in date", "/opt/Rec", "2007/3/15", "14:05:09", "2007-3-15140509.wav");
        row("backslash in date", "/opt/Rec", "15\\3\\2007", "14:05:09", "15-3-2007140509.wav");
        row("spaces in date stay", "/opt/Rec", "15 Mar 2007", "14:05:09", "15 Mar 2007140509.wav");
        row("program in the root folder", "/", "2007-3-15", "14:05:09", "2007-3-15140509.wav");
    }
    void name() {
        QFETCH(QString, folder);
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(QString, expected);
        QCOMPARE(archivePath(folder, date, time), expected);
    }

    void recordingOfTheSameSecondGetsASuffix() {
        QTemporaryDir app;
        const QString stem = app.path() + QStringLiteral("/2007-3-15140509");
        for (const QString& suffix : {QString(), QStringLiteral("_2"), QStringLiteral("_3")}) {
            QCOMPARE(archivePath(app.path(), "2007-3-15", "14:05:09"), stem + suffix + ".wav");
            QVERIFY(QFile(stem + suffix + ".wav").open(QIODevice::WriteOnly));
        }
        // Another second is free again.
        QCOMPARE(archivePath(app.path(), "2007-3-15", "14:05:10"),
                 app.path() + QStringLiteral("/2007-3-15140510.wav"));
    }
};

QTEST_GUILESS_MAIN(ArchivePathTest)
#include "tst_recorder_archivepath.moc"
