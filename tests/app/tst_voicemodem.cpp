#include "CallTags.h"
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
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

using namespace tova;
using namespace tova::test;

Q_DECLARE_METATYPE(tova::test::Chipset)

namespace {
const QByteArrayList kQuestions{"AT+FCLASS=?\r", "AT+VSM=?\r", "AT+VLS=?\r"};
} // namespace

// Calls recorded through a voice modem on a pseudo-terminal, one chipset's part a row: the
// stored call holds exactly the samples the modem sent, in order, whatever the stream did.
class TestVoiceModem : public QObject {
    Q_OBJECT
private slots:
    void init() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.emplace().path()));
        if (QTest::currentTestFunction() == QLatin1String("calls"))
            QSettings(Settings::path(), QSettings::IniFormat).setValue("audio/source", "modem");
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
        QTest::addColumn<QString>("end"); // "click", "stall", "unplug", or the event that ends it
        for (const Chipset& chip : kChipsets)
            QTest::newRow(chip.name) << chip << "click";
        const auto variant = [&](const char* name, auto change, QString end = "click") {
            Chipset chip = kChipsets.first();
            change(chip);
            QTest::newRow(name) << chip << end;
        };
        variant("no result line after DLE ETX", [](Chipset& c) { c.resultAfterEtx = false; });
        for (const double rate : {7200.0, 8030.0, 11025.0})
            variant(qPrintable(QString("%1 samples a second").arg(rate)),
                    [rate](Chipset& c) { c.rate = rate; });
        variant(
            "stalls, overruns, class 0 after hang-up",
            [](Chipset& c) { c.classReset = true, c.events = "so"; }, "stall");
        variant("events that do not end it", [](Chipset& c) { c.events = "R5#sqhHPoa$@"; });
        for (const char* event : {"b", "d", "l"})
            variant(
                qPrintable(QString("DLE %1 ends it").arg(event)),
                [event](Chipset& c) { c.events = QByteArray("ss") + event + event; }, event);
        variant(
            "unplugged mid-stream", [](Chipset&) {}, "unplug");
        variant(
            "dialled, VCON", [](Chipset& c) { c.offHook = "VCON"; }, "dial");
    }
    void calls() {
        QFETCH(Chipset, chip);
        QFETCH(QString, end);
        // What the modem gets while it streams: the stop, and the triple form where that fails.
        const QByteArray stop = chip.stop >= Chipset::Triple ? "\x10!\x10\x10\x10!" : "\x10!";
        RecordingsFolder folder;
        m_modem.emplace(m_line->peerLink(), chip);
        // The port listing asks the questions the main window asks.
        QProcess listing;
        listing.start(TOVA_PROGRAM, {"--ports"});
        QTRY_COMPARE_WITH_TIMEOUT(listing.state(), QProcess::NotRunning, 20000);
        QCOMPARE(
            QString::fromUtf8(listing.readAllStandardOutput()).section(u'\n', 0, 0),
            "COM3 " + QFileInfo(m_ports->link(3)).canonicalFilePath() +
                (chip.code < 0 ? " 可用 不能录音" : QString(" 可用 可录音 (%1)").arg(chip.format)));
        Form1& form = DefaultForm<Form1>::Show();
        form.MSComm1.setDtrSink(
            [this](QSerialPort&, bool on) { return m_modem->setDtr(on), true; });
        const bool voiceClass = QString(chip.classes).contains(QRegularExpression("\\b8\\b"));
        const QByteArrayList asked = kQuestions.first(voiceClass ? 3 : 1);
        QByteArrayList lines = asked + asked;
        QTRY_COMPARE(m_modem->commandLines(), lines);
        if (chip.code < 0) { // named, and the call recorded from the sound server
            QTRY_COMPARE(
                m_boxes->shown.value(0).prompt,
                QStringLiteral(
                    "COM3 "
                    "上的MODEM不能用来录音（不支持语音，或没有可用的声音格式），改为从声卡录音。"));
            form.Command3->click();
            QTRY_COMPARE(m_modem->commandLines(), lines + QByteArrayList{"AT H1 \r"});
            QTRY_VERIFY(DefaultForm<frmMain>::loaded()->mci->Length() > 500);
            return form.Command4->click();
        }
        const QByteArray offHook = end == "dial" ? QByteArray("ATDT5551234;\r")
                                                 : "AT+VLS=" + QByteArray::number(chip.vls) + "\r";
        const QByteArrayList voice{
            "AT+FCLASS=8\r",  "AT+VSM=" + QByteArray::number(chip.code) + ",8000\r",
            "AT+VSD=128,0\r", "AT+VIT=0\r",
            offHook,          "AT+VRX\r"};
        form.Text1->setText("5551234");
        for (int call = 0; call < (chip.classReset ? 2 : 1); ++call) {
            (end == "dial" ? form.Command2 : form.Command3)->click();
            frmMain* recorder = DefaultForm<frmMain>::loaded();
            QTRY_VERIFY_WITH_TIMEOUT(recorder->mci->Length() >= 2000, 10000);
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
                QCOMPARE(form.Label4->text(), end == "unplug"
                                                  ? QStringLiteral("MODEM已断开,正在等待重新接上")
                                                  : QStringLiteral("通话结束"));
            }
            // Every sample the modem sent, in order, up to the end.
            QVERIFY(!DefaultForm<frmMain>::loaded());
            const QString stored = RecordingsFolder::file(RecordingsFolder::files().value(call));
            const WavProbe wav(stored);
            const std::vector<int16_t>& sent = m_modem->sent();
            QVERIFY(wav.milliseconds() >= 2000 && size_t(wav.frames()) <= sent.size());
            for (qint64 i = 0; i < wav.frames(); ++i)
                if (qRound(wav.mono[size_t(i)] * 32768) != sent[size_t(i)])
                    QFAIL(qPrintable(QString("sample %1 of %2 differs").arg(i).arg(wav.frames())));
            if (end == "unplug") return;
            lines += voice + QByteArrayList{"AT H0 \r", "AT+FCLASS=8\r"};
            QTRY_COMPARE_WITH_TIMEOUT(m_modem->commandLines(), lines, 6000);
            QCOMPARE(m_modem->sentWhileStreaming(), stop.repeated(call + 1));
            QCOMPARE(readCallTags(stored).call.ending,
                     end.size() == 1 ? kHungUpThere : kHungUpHere);
        }
    }

    // Through the sound server: the exchange's busy tone after a tone ends the call as
    // 挂断电话 does, within 3 s of its third cycle; what is no busy tone never ends it.
    void busyTone_data() {
        QTest::addColumn<int>("lead"); // ms of a 1 kHz tone first
        QTest::addColumn<QList<Piece>>("cycle");
        QTest::addColumn<int>("repeat"); // 0: speech
        QTest::addColumn<bool>("ends");
        QTest::newRow("a tone, then the Chinese busy tone")
            << 2000 << QList<Piece>{{450, 0, 350}, {0, 0, 350}} << 8 << true;
        QTest::newRow("steady tone") << 0 << QList<Piece>{{450, 0, 8000}} << 1 << false;
        QTest::newRow("1 s on, 1 s off")
            << 0 << QList<Piece>{{450, 0, 1000}, {0, 0, 1000}} << 4 << false;
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
        QTRY_VERIFY(DefaultForm<frmMain>::loaded() &&
                    DefaultForm<frmMain>::loaded()->mci->Length() > 500);
        std::vector<int16_t> pcm = cadence({{1000, 0, lead}}, 1);
        const std::vector<int16_t> signal = repeat ? cadence(cycle, repeat) : speech();
        pcm.insert(pcm.end(), signal.begin(), signal.end());
        const SoundIntoLine sound(pcm);
        if (!ends) {
            QTest::qWait(int(pcm.size() / 8) + 1500);
            QVERIFY(DefaultForm<frmMain>::loaded());
            return form.Command4->click();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!DefaultForm<frmMain>::loaded(), 20000);
        QCOMPARE(form.Label4->text(), QStringLiteral("对方已挂机，通话结束"));
        QTRY_COMPARE(modem.commandLines(), (QByteArrayList{"AT H1 \r", "AT H0 \r"}));
        const QString stored = RecordingsFolder::file(RecordingsFolder::files().value(0));
        QCOMPARE(readCallTags(stored).call.ending, kHungUpThere);
        // Timed on the call's own audio: the busy tone's first gap comes 350 ms into it, its third
        // cycle ends 1.75 s after that, and the call within 3 s of that, busy tone and all.
        const WavProbe wav(stored);
        size_t loud = 0, gap = 0;
        while (loud < wav.mono.size() && wav.rms(loud, loud + 400) < 0.05)
            loud += 400;
        for (gap = loud; gap < wav.mono.size() && wav.rms(gap, gap + 400) > 0.01;)
            gap += 400;
        const QString at = QString("%1 ms, gap at %2 ms").arg(wav.milliseconds()).arg(gap / 8);
        QVERIFY2(wav.mono.size() > gap + 1750 * 8 && wav.mono.size() < gap + (1750 + 3000) * 8,
                 qPrintable(at));
        QVERIFY2(wav.rms(wav.mono.size() - 8000) > 0.03, qPrintable(at));
    }

private:
    std::optional<QTemporaryDir> m_config;
    std::optional<PortFolder> m_ports;
    std::unique_ptr<PtyPair> m_line;
    std::optional<VoiceModem> m_modem;
    MessageBoxesFake m_boxes;
};

QTEST_MAIN(TestVoiceModem)
#include "tst_voicemodem.moc"
