#include "RegionalClock.h"
#include "Slider.h"

#include <QTest>

using namespace tova;

class TestRegionalClock : public QObject {
    Q_OBJECT

private slots:
    void timeFormatLosesOnlyTheZone_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        auto row = [](const char* name, const char* format, const char* expected) {
            QTest::newRow(name) << QString(format) << QString(expected);
        };
        row("C locale", "HH:mm:ss t", "HH:mm:ss");
        row("zh_CN", "tttt HH:mm:ss", "HH:mm:ss");
        row("en_US", "h:mm:ss AP t", "h:mm:ss AP");
        row("quoted t kept", "H'h't mm", "H'h'mm");
        row("no zone", "H:mm:ss", "H:mm:ss");
    }
    void timeFormatLosesOnlyTheZone() {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        QCOMPARE(withoutTimeZone(format), expected);
    }

    // The seconds as the position labels show them, and as the slider takes them.
    void seconds_data() {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("point");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("whole");
        auto row = [](const char* name, qint64 ms, const char* point, const char* text, int whole) {
            QTest::newRow(name) << ms << QString(point) << QString(text) << whole;
        };
        row("zero", 0, ".", "0", 0);
        row("one ms", 1, ".", "0.001", 0);
        row("half to even, down to 0", 500, ".", "0.5", 0);
        row("half to even, down", 2500, ".", "2.5", 2);
        row("half to even, up", 3500, ".", "3.5", 4);
        row("just over half", 2501, ".", "2.501", 3);
        row("whole", 7000, ".", "7", 7);
        row("millis", 12345, ".", "12.345", 12);
        row("comma", 61234, ",", "61,234", 61);
        row("no exponent", 1000000000, ".", "1000000", 1000000);
        row("largest", 2147483647, ".", "2147483.647", 2147484);
    }
    void seconds() {
        QFETCH(qint64, ms);
        QFETCH(QString, point);
        QFETCH(QString, text);
        QFETCH(int, whole);
        QCOMPARE(secondsText(ms, point), text);
        QCOMPARE(wholeSeconds(ms), whole);
    }

    void sliderKeepsValueAboveMax() {
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
