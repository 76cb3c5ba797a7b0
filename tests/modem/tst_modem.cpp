#include "BusyTone.h"
#include "ToneIntoLine.h"
#include "VoiceFormat.h"
#include "VoiceStream.h"

#include <QTest>

using namespace tova;
using namespace tova::test;

Q_DECLARE_METATYPE(VoiceCoding)
using Samples = QList<int>;

// The voice modem's protocol from byte tables alone: what modems answer, the sample stream
// with its DLE codes, the decoders, and the busy tone.
class TestModem : public QObject {
    Q_OBJECT
private slots:
    void abilities_data() {
        QTest::addColumn<QString>("classes");
        QTest::addColumn<QString>("formats");
        QTest::addColumn<QString>("lines");
        QTest::addColumn<int>("code"); // -1: cannot record
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("selection");
        const QString cx93001 =
            "AT+VSM=?\r\r\n0,\"SIGNED PCM\",8,0,8000,0,0\r\n1,\"UNSIGNED PCM\",8,0,8000,0,0\r\n"
            "129,\"IMA ADPCM\",4,0,8000,0,0\r\n130,\"UNSIGNED PCM\",8,0,8000,0,0\r\n"
            "131,\"Mu-Law\",8,0,8000,0,0\r\n132,\"A-Law\",8,0,8000,0,0\r\n"
            "133,\"14 bit PCM\",14,0,8000,0,0\r\n\r\nOK\r\n";
        const QString usr5637 =
            "128,\"8-BIT LINEAR\",(7200,8000,11025)\r\n129,\"16-BIT LINEAR\",(7200,8000,11025)\r\n"
            "130,\"8-BIT ALAW\",(8000)\r\n131,\"8-BIT ULAW\",(8000)\r\n132,\"IMA ADPCM\",(7200,8000,11025)\r\n";
        QTest::newRow("Conexant, long") << "0,1,1.0,2,8" << cx93001 << "0,1,4,5,6,8,9,11,13" << 131
                                        << "Mu-Law" << 1;
        QTest::newRow("U.S. Robotics, short") << "+FCLASS: (0-2,8)" << usr5637 << "0-8" << 129
                                              << "16-BIT LINEAR" << 3;
        QTest::newRow("ZyXEL, semicolons") << "0,1,2,8" << "1;CELP;1;0;(9600)\r\n2;ADPCM;2;0;(9600)\r\n"
                                                    "4;8-BIT A-LAW;8;0;(7200-8000,11025)"
                                           << "0,1" << 4 << "8-BIT A-LAW" << 1;
        QTest::newRow("Rockwell, 8-bit and ADPCM")
            << "0,1,2,8" << "1,\"UNSIGNED PCM\",8,0,(7200,8000,11025),0,0\r\n"
                            "129,\"IMA ADPCM\",4,0,(7200,8000),0,0\r\n141,\"4 Bit ADPCM\",4,0,8000,0,0"
            << "0,1,2" << 1 << "UNSIGNED PCM" << 1;
        QTest::newRow("only IMA ADPCM") << "8" << "129,\"IMA ADPCM\",4,0,8000,0,0" << "1" << 129
                                        << "IMA ADPCM" << 1;
        QTest::newRow("12-bit, 7200 only")
            << "0,8" << "128,\"SIGNED PCM\",12,0,(7200-8000,11025),(127-129),(0-50)\r\n"
                        "130,\"Mu-Law\",8,0,(7200),0,0"
            << "1" << -1 << "" << 1;
        QTest::newRow("no voice class") << "0,1,1.0,2.0,80" << cx93001 << "1" << -1 << "" << 1;
    }
    void abilities() {
        QFETCH(QString, classes);
        QFETCH(QString, formats);
        QFETCH(QString, lines);
        QFETCH(int, code);
        QFETCH(QString, name);
        QFETCH(int, selection);
        VoiceAbilities abilities;
        abilities.takeClasses(classes);
        abilities.takeFormats(formats);
        abilities.takeLineSelections(lines);
        QCOMPARE(abilities.canRecord() ? abilities.format->code : -1, code);
        QCOMPARE(abilities.canRecord() ? abilities.format->name : QString(), name);
        QCOMPARE(abilities.lineSelection, selection);
    }

    void stream_data() {
        QTest::addColumn<VoiceCoding>("coding");
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<Samples>("samples");
        QTest::addColumn<QByteArray>("events");
        QTest::addColumn<QByteArray>("callerId");
        QTest::addColumn<QByteArray>("after"); // "-": the stream goes on
        using C = VoiceCoding;
        const QByteArray on = "-";
        QTest::newRow("16-bit, a sample split") << C::Linear16 << QByteArrayList{"\x01", "\x02\x03\xfe"}
                                                << Samples{0x0201, -0x01fd} << QByteArray() << QByteArray() << on;
        QTest::newRow("DLE DLE split") << C::Linear8Unsigned << QByteArrayList{"\x80\x10", "\x10\x81"}
                                       << Samples{0, -28672, 256} << QByteArray() << QByteArray() << on;
        QTest::newRow("DLE SUB, XON, XOFF") << C::Linear8Signed << QByteArrayList{"\x11\x10\x1a\x13"}
                                            << Samples{0x1100, 0x1000, 0x1000, 0x1300} << QByteArray()
                                            << QByteArray() << on;
        QTest::newRow("events, unknown codes skipped")
            << C::Linear8Unsigned << QByteArrayList{"\x80\x10" "b\x10", "Z\x80\x10~\x10" "5\x10/\x10R", "\x10l\x10" "d"}
            << Samples{0, 0} << QByteArray("b5Rld") << QByteArray() << on;
        QTest::newRow("caller ID packet") << C::MuLaw << QByteArrayList{"\xff\x10XNMBR=13", "8\x10\x10\x10.\xff"}
                                          << Samples{0, 0} << QByteArray() << QByteArray("NMBR=138\x10")
                                          << on;
        QTest::newRow("ETX, then the result") << C::MuLaw << QByteArrayList{QByteArray("\0\x80\x10", 3), "\x03\r\nVCON\r\n", "x"}
                                              << Samples{-32124, 32124} << QByteArray() << QByteArray()
                                              << QByteArray("\r\nVCON\r\nx");
        QTest::newRow("A-law") << C::ALaw << QByteArrayList{"\xd5\x55\xaa\x2a\x10\x03"}
                               << Samples{8, -8, 32256, -32256} << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("IMA ADPCM, high nibble first") << C::ImaAdpcm << QByteArrayList{"\x77", "\x0f"}
                                                      << Samples{11, 41, 45, -11} << QByteArray() << QByteArray()
                                                      << on;
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
        QByteArray gotEvents, gotCallerId, gotAfter;
        bool ended = false;
        for (const QByteArray& read : reads) {
            const VoiceStream::Read r = stream.take(read, got);
            ended = ended || r.ended;
            gotEvents += r.events;
            gotCallerId += r.callerId;
            gotAfter += r.after;
        }
        QCOMPARE(Samples(got.begin(), got.end()), samples);
        QCOMPARE(gotEvents, events);
        QCOMPARE(gotCallerId, callerId);
        QCOMPARE(ended, after != "-");
        QCOMPARE(gotAfter, after == "-" ? QByteArray() : after);
    }

    // Busy tones of several countries end a call, also 10 % off their times and under the
    // line's noise; what is not one of them never does.
    void busyTone_data() {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QList<Piece>>("cycle");
        QTest::addColumn<int>("repeat");
        QTest::addColumn<double>("noise");
        QTest::addColumn<int>("heardBy"); // ms from the start; 0: never
        QTest::newRow("China") << "450/350/350" << QList<Piece>{{450, 0, 350}, {0, 0, 350}} << 6 << 0.0 << 2600;
        QTest::newRow("China, 10 % long, noise")
            << "450/350/350" << QList<Piece>{{450, 0, 385}, {0, 0, 385}} << 6 << 600.0 << 2850;
        QTest::newRow("China, 10 % short") << "450/350/350" << QList<Piece>{{450, 0, 315}, {0, 0, 315}} << 6
                                           << 0.0 << 2350;
        QTest::newRow("North America") << "480+620/500/500" << QList<Piece>{{480, 620, 500}, {0, 0, 500}} << 5
                                       << 300.0 << 3700;
        QTest::newRow("Europe") << "425/500/500" << QList<Piece>{{425, 0, 550}, {0, 0, 450}} << 5 << 300.0
                                << 3700;
        QTest::newRow("two cycles only") << "450/350/350"
                                         << QList<Piece>{{0, 0, 500}, {450, 0, 350}, {0, 0, 350}, {450, 0, 350}, {0, 0, 5000}}
                                         << 1 << 0.0 << 0;
        QTest::newRow("steady tone") << "450/350/350" << QList<Piece>{{450, 0, 10000}} << 1 << 300.0 << 0;
        QTest::newRow("1 s on, 1 s off") << "450/350/350" << QList<Piece>{{450, 0, 1000}, {0, 0, 1000}} << 5
                                         << 0.0 << 0;
        QTest::newRow("another rhythm") << "450/350/350" << QList<Piece>{{450, 0, 200}, {0, 0, 200}} << 20
                                        << 0.0 << 0;
        QTest::newRow("another tone") << "450/350/350" << QList<Piece>{{1000, 0, 350}, {0, 0, 350}} << 6
                                      << 0.0 << 0;
        QTest::newRow("music") << "450/350/350"
                               << QList<Piece>{{440, 554, 400}, {494, 0, 300}, {440, 660, 350}, {392, 0, 300},
                                               {440, 0, 350}, {0, 0, 100}, {523, 659, 700}, {440, 0, 350}}
                               << 4 << 200.0 << 0;
        QTest::newRow("speech") << "450/350/350" << QList<Piece>() << 0 << 0.0 << 0;
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
    }

    void settings_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("tone"); // empty: refused
        QTest::newRow("China") << "450/350/350" << QList<int>{450, 0, 350, 350};
        QTest::newRow("North America") << " 480+620/500/500 " << QList<int>{480, 620, 500, 500};
        QTest::newRow("no off time") << "425/500" << QList<int>();
        QTest::newRow("inaudible") << "50/500/500" << QList<int>();
        QTest::newRow("too short") << "450/20/350" << QList<int>();
    }
    void settings() {
        QFETCH(QString, text);
        QFETCH(QList<int>, tone);
        const auto parsed = BusyTone::parse(text);
        QList<int> got;
        if (parsed) got = {parsed->frequency1, parsed->frequency2, parsed->onMs, parsed->offMs};
        QCOMPARE(got, tone);
    }
};

QTEST_MAIN(TestModem)
#include "tst_modem.moc"
