#include "CallTags.h"
#include "FakeAudio.h"
#include "Fakes.h"
#include "Form1.h"
#include "MMControl.h"
#include "PtyPair.h"
#include "RecordingsFolder.h"
#include "Settings.h"
#include "ToneIntoLine.h"
#include "VoiceModem.h"
#include "WavProbe.h"
#include "Windows.h"
#include "frmMain.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace tova;
using namespace tova::test;

Q_DECLARE_METATYPE(tova::test::Chipset)

namespace {

const QByteArrayList kQuestions{"AT+FCLASS=?\r", "AT+VSM=?\r", "AT+VLS=?\r"};
const QByteArray kConexant = "0,\"SIGNED PCM\",8,0,8000,0,0\r\n1,\"UNSIGNED PCM\",8,0,8000,0,0\r\n"
                             "129,\"IMA ADPCM\",4,0,8000,0,0\r\n131,\"Mu-Law\",8,0,8000,0,0\r\n"
                             "132,\"A-Law\",8,0,8000,0,0\r\n133,\"14 bit PCM\",14,0,8000,0,0";
const QByteArray kRobotics = "128,\"8-BIT LINEAR\",(7200,8000,11025)\r\n129,\"16-BIT LINEAR\","
                             "(7200,8000,11025)\r\n131,\"8-BIT ULAW\",(8000)";
const QByteArray kStop = "\x10!", kTriple = "\x10\x10\x10!";

} // namespace

// Calls recorded through a voice modem on a pseudo-terminal, one chipset's part a row: the
// stored call holds exactly the samples the modem sent, in order, whatever the stream did.
class TestVoiceModem : public QObject {
    Q_OBJECT
private slots:
    void init() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.emplace().path()));
        QDir().mkpath(QFileInfo(Settings::path()).path());
        QFile file(Settings::path());
        const bool modem = QTest::currentTestFunction() != QLatin1String("busyTone");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(modem ? "[audio]\nsource=modem\n" : "\n") > 0);
        file.close();
        Settings::reload();
        m_boxes->shown.clear();
        m_ports.emplace();
        m_line = m_ports->line(3);
        QVERIFY(m_line->isReady());
    }
    void cleanup() {
        unloadAllWindows();
        m_modem.reset();
        m_line.reset();
    }

    void calls_data() {
        QTest::addColumn<Chipset>("chip");
        QTest::addColumn<QString>("end");     // "click", "unplug", or the event that ends it
        QTest::addColumn<QByteArray>("stop"); // what the modem got while it streamed
        QTest::addColumn<QByteArray>("offHook");
        using C = VoiceCoding;
        using S = Chipset;
        const auto row = [](const char* name, Chipset chip, QString end = "click",
                            QByteArray stop = kStop, QByteArray offHook = "AT+VLS=1\r") {
            QTest::newRow(name) << chip << end << stop << offHook;
        };
        const Chipset cx{"0,1,1.0,2,8", kConexant, "0,1,4,5,6,8,9,11,13", 131, C::MuLaw};
        row("Conexant, long answers, mu-law", cx);
        row("U.S. Robotics, short answers, 16-bit, no echo, LT",
            {"(0-2,8)", kRobotics, "0-8", 129, C::Linear16, "OK", false}, "click", kStop, "AT+VLS=3\r");
        row("ZyXEL, semicolons, A-law, VCON",
            {"0,1,2,8", "1;CELP;1;0;(9600)\r\n4;8-BIT A-LAW;8;0;(8000)", "0,1", 4, C::ALaw, "VCON"});
        row("Rockwell 8-bit, DLE pairs split, DLE SUB, any byte stops it",
            {"0,1,8", "1,\"UNSIGNED PCM\",8,0,(7200,8000),0,0\r\n129,\"IMA ADPCM\",4,0,8000,0,0", "0,1",
             1, C::Linear8Unsigned, "OK", true, 8000, S::AnyByte, true, false, {}, true, true});
        row("ADPCM only", {"8", "129,\"IMA ADPCM\",4,0,8000,0,0", "1", 129, C::ImaAdpcm});
        row("Zoom: the triple stop only", {cx.classes, kConexant, cx.lines, 131, C::MuLaw, "OK", true,
                                           8000, S::Triple}, "click", kStop + kTriple);
        row("a DTR drop only, no result after ETX", {cx.classes, kConexant, cx.lines, 131, C::MuLaw, "OK",
                                                     true, 8000, S::Dtr, false}, "click", kStop + kTriple);
        row("no result line after DLE ETX", {cx.classes, kConexant, cx.lines, 131, C::MuLaw, "OK", true,
                                             8000, S::Dle, false});
        for (const double rate : {7200.0, 8030.0, 11025.0})
            row(qPrintable(QString("%1 samples a second").arg(rate)),
                {cx.classes, kConexant, cx.lines, 131, C::MuLaw, "OK", true, rate});
        row("stalls, overruns, class 0 after hang-up", {cx.classes, kConexant, cx.lines, 131, C::MuLaw,
                                                        "OK", true, 8000, S::Dle, true, true, "so"}, "stall");
        row("events that do not end it", {cx.classes, kConexant, cx.lines, 131, C::MuLaw, "OK", true, 8000,
                                          S::Dle, true, false, "R5#sqhHPoa$@"});
        for (const char* event : {"b", "d", "l"})
            row(qPrintable(QString("DLE %1 ends it").arg(event)),
                {cx.classes, kConexant, cx.lines, 131, C::MuLaw, "OK", true, 8000, S::Dle, true, false,
                 QByteArray("ss") + event + event},
                event);
        row("unplugged mid-stream", cx, "unplug", {});
    }
    void calls() {
        QFETCH(Chipset, chip);
        QFETCH(QString, end);
        QFETCH(QByteArray, stop);
        QFETCH(QByteArray, offHook);
        RecordingsFolder folder;
        m_modem.emplace(m_line->peerLink(), chip);
        Form1& form = DefaultForm<Form1>::Show();
        form.MSComm1.setDtrSink([this](QSerialPort&, bool on) { return m_modem->setDtr(on), true; });
        QTRY_COMPARE(m_modem->commandLines(), kQuestions);
        const QByteArrayList voice{"AT+FCLASS=8\r", "AT+VSM=" + QByteArray::number(chip.code) + ",8000\r",
                                   "AT+VSD=128,0\r", offHook, "AT+VRX\r"};
        QByteArrayList lines = kQuestions;
        for (int call = 0; call < (chip.classReset ? 2 : 1); ++call) {
            form.Command3->click();
            frmMain* recorder = DefaultForm<frmMain>::loaded();
            QVERIFY(recorder);
            QTRY_VERIFY_WITH_TIMEOUT(recorder->mci->Length() >= 2000, 5000);
            if (end == "stall") m_modem->stall(1500);
            if (end == "unplug") {
                m_line.reset();
                QTRY_COMPARE(recorder->Label1->text(), QStringLiteral("录音失败：声音设备已断开"));
            }
            if (end.size() == 1) {
                QTRY_VERIFY_WITH_TIMEOUT(!DefaultForm<frmMain>::loaded(), 8000);
                QCOMPARE(form.Label4->text(), QStringLiteral("对方已挂机，通话结束"));
            } else {
                QTest::qWait(end == "stall" ? 2500 : 500);
                form.Command4->click();
                QCOMPARE(form.Label4->text(), end == "unplug" ? QStringLiteral("MODEM已断开,正在等待重新接上")
                                                              : QStringLiteral("通话结束"));
            }
            QVERIFY(!DefaultForm<frmMain>::loaded());
            QCOMPARE(RecordingsFolder::files().size(), call + 1);
            const QString stored = RecordingsFolder::file(RecordingsFolder::files().value(call));
            const WavProbe wav(stored);
            QVERIFY(wav.milliseconds() >= 2000);
            const std::vector<int16_t>& sent = m_modem->sent();
            QVERIFY(size_t(wav.frames()) <= sent.size());
            for (qint64 i = 0; i < wav.frames(); ++i)
                if (qRound(wav.mono[size_t(i)] * 32768) != sent[size_t(i)])
                    QFAIL(qPrintable(QString("sample %1 of %2 differs").arg(i).arg(wav.frames())));
            if (end == "unplug") return;
            lines += voice + QByteArrayList{"AT H0 \r", "AT+FCLASS=8\r"};
            QTRY_COMPARE_WITH_TIMEOUT(m_modem->commandLines(), lines, 6000);
            QCOMPARE(m_modem->sentWhileStreaming(), stop.repeated(call + 1));
            QCOMPARE(tagOf(stored), end.size() == 1 ? kHungUpThere : kHungUpHere);
        }
    }

    // What the port listing says of a modem, and a modem without voice at start: named, and
    // the call recorded from the sound server.
    void ports_data() {
        QTest::addColumn<Chipset>("chip");
        QTest::addColumn<QString>("state");
        QTest::newRow("Conexant") << Chipset{"0,1,8", kConexant, "0,1", 131} << "可用 可录音 (Mu-Law)";
        QTest::newRow("no voice") << Chipset{"0,1,1.0,2", kConexant, "0,1", 131} << "可用 不能录音";
    }
    void ports() {
        QFETCH(Chipset, chip);
        QFETCH(QString, state);
        m_modem.emplace(m_line->peerLink(), chip);
        QProcess listing;
        listing.start(TOVA_PROGRAM, {"--ports"});
        QTRY_COMPARE_WITH_TIMEOUT(listing.state(), QProcess::NotRunning, 20000);
        QCOMPARE(QString::fromUtf8(listing.readAllStandardOutput()).section(u'\n', 0, 0),
                 "COM3 " + QFileInfo(m_ports->link(3)).canonicalFilePath() + " " + state);
        if (chip.classes.contains('8')) return;
        Form1& form = DefaultForm<Form1>::Show();
        QTRY_COMPARE(m_boxes->shown.value(0).prompt, QStringLiteral("COM3 上的MODEM不支持语音，不能用它录音，改为从声卡录音。"));
        RecordingsFolder folder;
        form.Command3->click();
        QTRY_COMPARE(m_modem->commandLines().last(), "AT H1 \r");
        QTRY_VERIFY(DefaultForm<frmMain>::loaded()->mci->Length() > 500);
        form.Command4->click();
    }

    // Through the sound server: the exchange's busy tone after a tone ends the call as
    // 挂断电话 does, within 3 s of its third cycle; what is no busy tone never ends it.
    void busyTone_data() {
        QTest::addColumn<int>("lead"); // ms of a 1 kHz tone first
        QTest::addColumn<QList<Piece>>("cycle");
        QTest::addColumn<int>("repeat"); // 0: speech
        QTest::addColumn<bool>("ends");
        QTest::newRow("a tone, then the Chinese busy tone") << 2000 << QList<Piece>{{450, 0, 350}, {0, 0, 350}} << 8 << true;
        QTest::newRow("steady tone") << 0 << QList<Piece>{{450, 0, 8000}} << 1 << false;
        QTest::newRow("1 s on, 1 s off") << 0 << QList<Piece>{{450, 0, 1000}, {0, 0, 1000}} << 4 << false;
        QTest::newRow("speech") << 0 << QList<Piece>() << 0 << false;
    }
    void busyTone() {
        QFETCH(int, lead);
        QFETCH(QList<Piece>, cycle);
        QFETCH(int, repeat);
        QFETCH(bool, ends);
        RecordingsFolder folder;
        ScriptedModem modem(m_line->peerLink());
        Form1& form = DefaultForm<Form1>::Show();
        form.Command3->click();
        QTRY_VERIFY(DefaultForm<frmMain>::loaded() && DefaultForm<frmMain>::loaded()->mci->Length() > 500);
        std::vector<int16_t> pcm = cadence({{1000, 0, lead}}, 1);
        const std::vector<int16_t> signal = repeat ? cadence(cycle, repeat) : speech();
        pcm.insert(pcm.end(), signal.begin(), signal.end());
        const SoundIntoLine sound(pcm);
        QElapsedTimer clock;
        clock.start();
        const int thirdCycle = lead + 3 * 700;
        if (!ends) {
            QTest::qWait(int(pcm.size() / 8) + 1500);
            QVERIFY(DefaultForm<frmMain>::loaded());
            return form.Command4->click();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!DefaultForm<frmMain>::loaded(), thirdCycle + 4000);
        QVERIFY2(clock.elapsed() <= thirdCycle + 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(form.Label4->text(), QStringLiteral("对方已挂机，通话结束"));
        QTRY_COMPARE(modem.commandLines(), (QByteArrayList{"AT H1 \r", "AT H0 \r"}));
        const QString stored = RecordingsFolder::file(RecordingsFolder::files().value(0));
        QCOMPARE(tagOf(stored), kHungUpThere);
        // The busy tone is in it, up to the end.
        const WavProbe wav(stored);
        QVERIFY(wav.milliseconds() > thirdCycle);
        QVERIFY(wav.rms(wav.mono.size() - 8000) > 0.03);
    }

private:
    static QString tagOf(const QString& path) {
        SndfileHandle file(QFile::encodeName(path).constData());
        return QString::fromUtf8(file.getString(SF_STR_GENRE));
    }

    std::optional<QTemporaryDir> m_config;
    std::optional<PortFolder> m_ports;
    std::unique_ptr<PtyPair> m_line;
    std::optional<VoiceModem> m_modem;
    MessageBoxesFake m_boxes;
};

QTEST_MAIN(TestVoiceModem)
#include "tst_voicemodem.moc"
