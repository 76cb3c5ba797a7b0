#include "RegionalClock.h"
#include "Slider.h"

#include <QTest>

using namespace tova;

class TestRegionalClock : public QObject {
    Q_OBJECT

private slots:
    void timeFormatLosesOnlyTheZone_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("C locale") << "HH:mm:ss t" << "HH:mm:ss";
        QTest::newRow("zh_CN") << "tttt HH:mm:ss" << "HH:mm:ss";
        QTest::newRow("en_US") << "h:mm:ss AP t" << "h:mm:ss AP";
        QTest::newRow("quoted t kept") << "H'h't mm" << "H'h'mm";
        QTest::newRow("no zone") << "H:mm:ss" << "H:mm:ss";
    }
    void timeFormatLosesOnlyTheZone()
    {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        QCOMPARE(withoutTimeZone(format), expected);
    }

    void secondsText_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("point");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero") << qint64(0) << "." << "0";
        QTest::newRow("half") << qint64(500) << "." << "0.5";
        QTest::newRow("whole") << qint64(7000) << "." << "7";
        QTest::newRow("whole minute") << qint64(60000) << "." << "60";
        QTest::newRow("millis") << qint64(12345) << "." << "12.345";
        QTest::newRow("one ms") << qint64(1) << "." << "0.001";
        QTest::newRow("comma") << qint64(61234) << "," << "61,234";
        QTest::newRow("no exponent") << qint64(1000000000) << "." << "1000000";
        QTest::newRow("largest") << qint64(2147483647) << "." << "2147483.647";
    }
    void secondsText()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, point);
        QFETCH(QString, expected);
        QCOMPARE(tova::secondsText(ms, point), expected);
    }

    void wholeSecondsHalvesToEven_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<int>("seconds");
        QTest::newRow("2.5") << qint64(2500) << 2;
        QTest::newRow("3.5") << qint64(3500) << 4;
        QTest::newRow("2.501") << qint64(2501) << 3;
        QTest::newRow("61.234") << qint64(61234) << 61;
        QTest::newRow("0.5") << qint64(500) << 0;
    }
    void wholeSecondsHalvesToEven()
    {
        QFETCH(qint64, ms);
        QFETCH(int, seconds);
        QCOMPARE(wholeSeconds(ms), seconds);
    }

    void sliderKeepsValueAboveMax()
    {
        Slider slider(10, 1, 5);
        slider.setValue(12);
        QCOMPARE(slider.Value(), 12);
        QCOMPARE(slider.Max(), 10);
        slider.setMax(20);
        QCOMPARE(slider.Value(), 12);
    }
};

QTEST_MAIN(TestRegionalClock)
#include "tst_regionalclock.moc"
