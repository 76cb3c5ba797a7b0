#include "BusyTone.h"
#include "ToneIntoLine.h"
#include "VoiceStream.h"

#include <QTest>

using namespace tova;
using namespace tova::test;

Q_DECLARE_METATYPE(VoiceCoding)
using Samples = QList<int>;

// The voice modem's protocol from byte tables alone: the sample stream with its DLE codes, the
// decoders, and the busy tone. What modems answer is in the calls through the pty modem.
class TestModem : public QObject {
    Q_OBJECT
private slots:
    void stream_data() {
        QTest::addColumn<VoiceCoding>("coding");
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<Samples>("samples");
        QTest::addColumn<QByteArray>("events");
        QTest::addColumn<QByteArray>("callerId");
        QTest::addColumn<QByteArray>("after"); // "-": the stream goes on
        using C = VoiceCoding;
        const QByteArray none, on = "-";
        QTest::newRow("16-bit, a sample split")
            << C::Linear16 << QByteArrayList{"\x01", "\x02\x03\xfe"} << Samples{0x0201, -0x01fd}
            << none << none << on;
        QTest::newRow("DLE DLE split")
            << C::Linear8Unsigned << QByteArrayList{"\x80\x10", "\x10\x81"}
            << Samples{0, -28672, 256} << none << none << on;
        QTest::newRow("DLE SUB, XON, XOFF")
            << C::Linear8Signed << QByteArrayList{"\x11\x10\x1a\x13"}
            << Samples{0x1100, 0x1000, 0x1000, 0x1300} << none << none << on;
        QTest::newRow("events, unknown codes skipped")
            << C::Linear8Unsigned
            << QByteArrayList{"\x80\020b\020", "Z\x80\020~\0205\020/\020R", "\020l\020d"}
            << Samples{0, 0} << QByteArray("b5Rld") << none << on;
        QTest::newRow("caller ID packet")
            << C::MuLaw << QByteArrayList{"\xff\x10XNMBR=13", "8\x10\x10\x10.\xff"} << Samples{0, 0}
            << none << QByteArray("NMBR=138\x10") << on;
        QTest::newRow("ETX, then the result")
            << C::MuLaw << QByteArrayList{QByteArray("\0\x80\x10", 3), "\x03\r\nVCON\r\n", "x"}
            << Samples{-32124, 32124} << none << none << QByteArray("\r\nVCON\r\nx");
        QTest::newRow("A-law") << C::ALaw << QByteArrayList{"\xd5\x55\xaa\x2a\x10\x03"}
                               << Samples{8, -8, 32256, -32256} << none << none << none;
        QTest::newRow("IMA ADPCM, high nibble first")
            << C::ImaAdpcm << QByteArrayList{"\x77", "\x0f"} << Samples{11, 41, 45, -11} << none
            << none << on;
    }
    void stream() {
        QFETCH(VoiceCoding, coding);
        QFETCH(QByteArrayList, reads);
        QFETCH(Samples, samples);
        QFETCH(QByteArray, events);
        QFETCH(QByteArray, callerId);
        QFETCH(QByteArray, after);
        VoiceStream stream(coding);
        std::vector<int16_t> got;
        VoiceStream::Read all;
        for (const QByteArray& read : reads) {
            const VoiceStream::Read r = stream.take(read, got);
            all = {all.events + r.events, all.callerId + r.callerId, all.ended || r.ended,
                   all.after + r.after};
        }
        QCOMPARE(Samples(got.begin(), got.end()), samples);
        QCOMPARE(all.events, events);
        QCOMPARE(all.callerId, callerId);
        QCOMPARE(all.ended ? all.after : QByteArray("-"), after);
    }

    // Busy tones of several countries end a call, also 10 % off their times and under the
    // line's noise; what is not one of them never does.
    void busyTone_data() {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QList<Piece>>("cycle");
        QTest::addColumn<int>("repeat"); // 0: speech
        QTest::addColumn<double>("noise");
        QTest::addColumn<int>("heardBy"); // ms from the start; 0: never
        const auto row = [](const char* name, const char* setting, QList<Piece> cycle, int repeat,
                            double noise, int heardBy) {
            QTest::newRow(name) << QString(setting) << cycle << repeat << noise << heardBy;
        };
        row("China", "450/350/350", {{450, 0, 350}, {0, 0, 350}}, 6, 0, 2600);
        row("China, 10 % long, noise", "450/350/350", {{450, 0, 385}, {0, 0, 385}}, 6, 600, 2850);
        row("China, 10 % short", "450/350/350", {{450, 0, 315}, {0, 0, 315}}, 6, 0, 2350);
        row("North America, noise", " 480+620/500/500", {{480, 620, 500}, {0, 0, 500}}, 5, 300,
            3700);
        row("Europe, on long, off short", "425/500/500", {{425, 0, 550}, {0, 0, 450}}, 5, 300,
            3700);
        row("two cycles only", "450/350/350",
            {{0, 0, 500}, {450, 0, 350}, {0, 0, 350}, {450, 0, 350}, {0, 0, 5000}}, 1, 0, 0);
        row("steady tone", "450/350/350", {{450, 0, 10000}}, 1, 300, 0);
        row("1 s on, 1 s off", "450/350/350", {{450, 0, 1000}, {0, 0, 1000}}, 5, 0, 0);
        row("another rhythm", "450/350/350", {{450, 0, 200}, {0, 0, 200}}, 20, 0, 0);
        row("another tone", "450/350/350", {{1000, 0, 350}, {0, 0, 350}}, 6, 0, 0);
        row("music", "450/350/350",
            {{440, 554, 400},
             {494, 0, 300},
             {440, 660, 350},
             {392, 0, 300},
             {440, 0, 350},
             {0, 0, 100},
             {523, 659, 700},
             {440, 0, 350}},
            4, 200, 0);
        row("speech", "450/350/350", {}, 0, 0, 0);
    }
    void busyTone() {
        QFETCH(QString, setting);
        QFETCH(QList<Piece>, cycle);
        QFETCH(int, repeat);
        QFETCH(double, noise);
        QFETCH(int, heardBy);
        const std::vector<int16_t> pcm = repeat ? cadence(cycle, repeat, noise) : speech();
        QVERIFY(pcm.size() > 8000);
        BusyToneDetector detector(*BusyTone::parse(setting));
        // In the pieces the recorder collects.
        size_t at = 0;
        for (; at < pcm.size() && !detector.heard(); at += 4000)
            detector.hear(pcm.data() + at, int(std::min<size_t>(4000, pcm.size() - at)));
        QCOMPARE(detector.heard(), heardBy > 0);
        if (heardBy) QVERIFY2(int(at / 8) <= heardBy + 500, qPrintable(QString::number(at / 8)));
        QVERIFY(!BusyTone::parse(setting.chopped(4))); // no off time
    }
};

QTEST_MAIN(TestModem)
#include "tst_modem.moc"
