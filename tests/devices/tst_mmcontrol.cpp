#include "FakeAudio.h"
#include "MMControl.h"
#include "TabOrder.h"
#include "WavProbe.h"
#include "WaveDevice.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace std::chrono_literals;
using namespace tova;
using namespace tova::test;

namespace {

const QStringList kButtonNames{"Prev", "Next", "Play",   "Pause", "Back",
                               "Step", "Stop", "Record", "Eject"};
constexpr int kPcm16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

QStringList spillFiles() {
    return QDir(QDir::tempPath()).entryList({"tova-*.wav"}, QDir::Files);
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The device over a fake sound system that moves audio only when told.
class TestMMControl : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
        // A temporary folder of its own per test shows leftover working files.
        QVERIFY(QDir(m_dir->path()).mkdir("tmp"));
        qputenv("TMPDIR", QFile::encodeName(path("tmp")));
        m_audio.emplace();
        m_mci.emplace();
    }
    void cleanup() {
        m_mci.reset();
        m_audio.reset();
        m_dir.reset();
    }

    void positionLengthAndOverwrite() {
        openTone(2000);
        QCOMPARE(m_mci->Length(), 2000);
        m_mci->setCommand("Step");
        QCOMPARE(m_mci->Position(), int(WaveDevice::kStepMs));
        m_mci->setCommand("Record");
        m_audio->capture(500ms);
        QCOMPARE(m_mci->Position(), 1500);
        QCOMPARE(m_mci->Length(), 2000);
        m_audio->capture(1001ms);
        QCOMPARE(m_mci->Position(), 2501);
        QCOMPARE(m_mci->Length(), 2501);
        m_mci->setCommand("Stop");
        m_mci->setCommand("Prev");
        QCOMPARE(m_mci->Position(), 0);
        m_mci->setCommand("Next");
        QCOMPARE(m_mci->Position(), 2501);
        m_mci->setCommand("Back");
        QCOMPARE(m_mci->Position(), 1501);
    }

    void recordStopRecordKeepsBothStretches() {
        openNew();
        QCOMPARE(m_mci->Mode(), int(mciModeStop));
        QCOMPARE(m_mci->Length(), 0);
        QVERIFY(!QFile::exists(path("new.wav")));
        m_mci->press(MciButton::Record);
        m_audio->capture(1000ms);
        m_mci->press(MciButton::Stop);
        m_audio->capture(300ms); // nothing records now
        QCOMPARE(m_mci->Length(), 1000);
        m_mci->press(MciButton::Record);
        m_audio->capture(700ms);
        const WavProbe saved = saveAs("both.wav");
        QCOMPARE(saved.format, kPcm16);
        QCOMPARE(saved.sampleRate, 8000);
        QCOMPARE(saved.channels, 1);
        QCOMPARE(saved.milliseconds(), 1700);
        QVERIFY(saved.rms() > 0.3);
        QVERIFY(qAbs(saved.toneHz() - 440) < 5);
    }

    void saveWhileRecordingThenCloseDrops() {
        openNew();
        m_mci->setCommand("Record");
        m_audio->capture(1000ms);
        QCOMPARE(saveAs("first.wav").frames(), 8000);
        QCOMPARE(m_mci->Mode(), int(mciModeRecord));
        m_audio->capture(500ms);
        QCOMPARE(saveAs("second.wav").frames(), 12000);
        QCOMPARE(WavProbe(path("first.wav")).frames(), 8000);

        QCOMPARE(spillFiles().size(), 1);
        m_mci->setCommand("close");
        QCOMPARE(m_mci->Mode(), int(mciModeNotOpen));
        QCOMPARE(m_mci->Length(), 0);
        QCOMPARE(m_mci->Position(), 0);
        QCOMPARE(spillFiles(), QStringList());
        m_audio->capture(100ms);
        openNew();
        QCOMPARE(saveAs("new.wav").frames(), 0);
    }

    void spillFileStaysReadableWhileGrowing() {
        openNew();
        m_mci->setCommand("Record");
        for (int second = 1; second <= 3; ++second) {
            m_audio->capture(1000ms);
            const QStringList spills = spillFiles();
            QCOMPARE(spills.size(), 1);
            QCOMPARE(WavProbe(QDir::temp().filePath(spills.first())).milliseconds(), second * 1000);
        }
    }

    void modesAndButtons_data() {
        QTest::addColumn<QString>("commands");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("enabled");
        auto row = [](const char* name, const char* commands, int mode, const char* enabled) {
            QTest::newRow(name) << QString(commands) << mode << QString(enabled);
        };
        const char* stopped = "Prev Next Play Back Step Record";
        const char* paused = "Prev Next Play Back Step Stop Record";
        row("nothing open", "", mciModeNotOpen, "");
        row("play on nothing open", "Play", mciModeNotOpen, "");
        row("open", "Open", mciModeStop, stopped);
        row("OPEN in capitals", "OPEN", mciModeStop, stopped);
        row("recording", "open record", mciModeRecord, "Pause Stop");
        row("paused recording", "Open Record Pause", mciModePause, paused);
        row("record after pause", "Open Record Pause Record", mciModeRecord, "Pause Stop");
        row("stopped recording", "Open Record Stop", mciModeStop, stopped);
        row("playing", "Open Record Stop Play", mciModePlay, "Prev Next Pause Back Step Stop");
        row("paused playing", "Open Record Stop Play Pause", mciModePause, paused);
        row("closed", "Open Record close", mciModeNotOpen, "");
    }
    void modesAndButtons() {
        QFETCH(QString, commands);
        QFETCH(int, mode);
        QFETCH(QString, enabled);
        m_mci->setFileName(path("new.wav"));
        for (const QString& command : commands.split(' ', Qt::SkipEmptyParts)) {
            m_mci->setCommand(command);
            m_audio->capture(100ms);
        }
        QCOMPARE(m_mci->Mode(), mode);
        QStringList names;
        for (int i = 0; i < kMciButtonCount; ++i)
            if (m_mci->isButtonEnabled(MciButton(i))) names << kButtonNames[i];
        QCOMPARE(names.join(' '), enabled);
    }

    void clickNotificationsComeFirstAndCanCancel() {
        short answer = 1;
        QList<int> seen; // the mode each handler saw
        connect(&*m_mci, &MMControl::RecordClick, this, [&](short& cancel) {
            seen << m_mci->Mode();
            cancel = answer;
        });
        connect(&*m_mci, &MMControl::StopClick, this, [&](short& cancel) {
            seen << -m_mci->Mode();
            cancel = answer;
        });
        auto* record = m_mci->findChild<QPushButton*>("Record");
        QTest::mouseClick(record, Qt::LeftButton); // disabled: nothing open
        QCOMPARE(seen, QList<int>());

        openNew();
        m_mci->setCommand("Record"); // commands raise no notification
        m_mci->setCommand("Stop");
        QCOMPARE(seen, QList<int>());
        QTest::mouseClick(record, Qt::LeftButton);
        QCOMPARE(m_mci->Mode(), int(mciModeStop));
        answer = 0;
        QTest::mouseClick(record, Qt::LeftButton);
        QCOMPARE(m_mci->Mode(), int(mciModeRecord));
        answer = 1;
        m_mci->press(MciButton::Stop);
        QCOMPARE(m_mci->Mode(), int(mciModeRecord));
        answer = 0;
        QTest::mouseClick(m_mci->findChild<QPushButton*>("Stop"), Qt::LeftButton);
        QCOMPARE(m_mci->Mode(), int(mciModeStop));
        QCOMPARE(seen, (QList<int>{mciModeStop, mciModeStop, -mciModeRecord, -mciModeRecord}));
    }

    void buttonsShareWidth() {
        m_mci->resize(236, 22);
        m_mci->show();
        QVERIFY(QTest::qWaitForWindowExposed(&*m_mci));
        QList<QPushButton*> buttons;
        for (const QString& name : kButtonNames)
            buttons << m_mci->findChild<QPushButton*>(name);
        for (int i = 0; i < kMciButtonCount; ++i) {
            QCOMPARE(buttons[i]->x(), i * 236 / 9);
            QVERIFY(qAbs(buttons[i]->width() - 236 / 9) <= 1);
        }
        QCOMPARE(m_mci->childAt(191, 10), buttons[int(MciButton::Record)]);

        m_mci->setButtonVisible(MciButton::Eject, false);
        QVERIFY(buttons.last()->isHidden());
        QCOMPARE(buttons[7]->geometry().right(), 235);
        QCOMPARE(buttons[1]->x(), 236 / 8);
    }

    void barIsOneTabStopThatKeysLeaveAlone() {
        QWidget host;
        auto* before = new QLineEdit(&host);
        auto* mci = new MMControl(&host);
        auto* after = new QLineEdit(&host);
        mci->setFileName(path("new.wav"));
        mci->setCommand("Open");
        int clicks = 0;
        connect(mci, &MMControl::RecordClick, this, [&](short&) { ++clicks; });
        host.show();
        verifyTabOrder({before, mci, after});

        mci->setFocus(Qt::TabFocusReason);
        for (int key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Left, Qt::Key_Right,
                        Qt::Key_Up, Qt::Key_Down})
            QTest::keyClick(mci, Qt::Key(key));
        QCOMPARE(QApplication::focusWidget(), mci);
        QCOMPARE(mci->Mode(), int(mciModeStop));
        QCOMPARE(clicks, 0);

        // A click on a button leaves the focus where it was.
        before->setFocus();
        QTest::mouseClick(mci->findChild<QPushButton*>("Record"), Qt::LeftButton);
        QCOMPARE(mci->Mode(), int(mciModeRecord));
        QCOMPARE(QApplication::focusWidget(), before);
    }

    void playbackFollowsPlayed() {
        openTone(2000);
        m_mci->press(MciButton::Play);
        QCOMPARE(m_mci->Mode(), int(mciModePlay));
        m_audio->play(500ms);
        QCOMPARE(m_mci->Position(), 500);
        m_mci->press(MciButton::Pause);
        m_audio->play(500ms);
        QCOMPARE(m_mci->Position(), 500);
        m_mci->press(MciButton::Play);
        m_audio->play(2000ms);
        QCOMPARE(m_mci->Position(), 2000);
        QCOMPARE(m_mci->Mode(), int(mciModeStop));
        // Play at the end starts over.
        m_mci->press(MciButton::Play);
        m_audio->play(250ms);
        QCOMPARE(m_mci->Position(), 250);
        QCOMPARE(m_mci->Length(), 2000);
    }

    void lostSoundDevicesKeepTheContent() {
        openNew();
        m_audio->setInputAvailable(false);
        m_mci->press(MciButton::Record);
        QCOMPARE(m_mci->Mode(), int(mciModeStop));
        QCOMPARE(m_mci->Error(), int(mciErrNoInput));
        QVERIFY(!m_mci->ErrorMessage().isEmpty());
        m_audio->setInputAvailable(true);
        m_mci->press(MciButton::Record);
        QCOMPARE(m_mci->Error(), 0);

        m_audio->capture(1000ms);
        m_audio->serverDies();
        QCOMPARE(m_mci->Mode(), int(mciModeStop));
        QCOMPARE(m_mci->Error(), int(mciErrInputLost));
        QCOMPARE(saveAs("kept.wav").frames(), 8000);

        m_mci->setCommand("Play");
        m_audio->play(300ms);
        m_audio->serverDies();
        QCOMPARE(m_mci->Mode(), int(mciModeStop));
        QCOMPARE(m_mci->Error(), int(mciErrOutputLost));
        QCOMPARE(m_mci->Position(), 300);
    }

    void statusUpdateWhateverTheMode() {
        QCOMPARE(m_mci->UpdateInterval(), 250);
        QSignalSpy updates(&*m_mci, &MMControl::StatusUpdate);
        QVERIFY(updates.wait(1000)); // not open
        openNew();
        m_mci->setCommand("Record");
        m_mci->setUpdateInterval(20);
        updates.clear();
        QTRY_VERIFY_WITH_TIMEOUT(updates.count() >= 5, 1000);
    }

    void errorClearsAfterWorkingCommand() {
        m_mci->setCommand("Record");
        QCOMPARE(m_mci->Error(), int(mciErrNotOpen));
        m_mci->setCommand("Dance");
        QCOMPARE(m_mci->Error(), int(mciErrUnknownCommand));
        QVERIFY(m_mci->ErrorMessage().contains("dance"));
        m_mci->setRecordMode(0);
        QCOMPARE(m_mci->Error(), int(mciErrBadSetting));
        QCOMPARE(m_mci->RecordMode(), 1);
        m_mci->setDeviceType("CDAudio");
        m_mci->setCommand("Open");
        QCOMPARE(m_mci->Error(), int(mciErrWrongDeviceType));
        QCOMPARE(m_mci->Mode(), int(mciModeNotOpen));
        m_mci->setDeviceType("WAVEAudio");
        openNew();
        QCOMPARE(m_mci->Error(), 0);
        QCOMPARE(m_mci->ErrorMessage(), QString());
    }

    void badFiles_data() {
        QTest::addColumn<QByteArray>("content"); // null for no file, "/" for a folder
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("error");
        const QByteArray wav = contentOf(TOVA_TEST_DATA "/../fuzz/corpus/pcm16-mono.wav");
        QVERIFY(!wav.isEmpty());
        QByteArray noChannels = wav;
        noChannels[22] = noChannels[23] = 0;
        const int notOpen = mciModeNotOpen;
        QTest::newRow("missing") << QByteArray() << int(mciModeStop) << int(mciErrNone);
        QTest::newRow("folder") << QByteArray("/") << notOpen << int(mciErrNotAFile);
        QTest::newRow("empty") << QByteArray("", 0) << notOpen << int(mciErrNotAudio);
        QTest::newRow("garbage") << QByteArray(5000, 'Z') << notOpen << int(mciErrNotAudio);
        QTest::newRow("truncated header") << wav.left(30) << notOpen << int(mciErrNotAudio);
        QTest::newRow("zero channels") << noChannels << notOpen << int(mciErrNotAudio);
        QTest::newRow("data cut short")
            << wav.left(wav.size() - 100) << int(mciModeStop) << int(mciErrTruncated);
    }
    void badFiles() {
        QFETCH(QByteArray, content);
        QFETCH(int, mode);
        QFETCH(int, error);
        const QString file = path("bad.wav");
        if (content == "/") {
            QVERIFY(QDir(m_dir->path()).mkdir("bad.wav"));
        } else if (!content.isNull()) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(content);
        }
        m_mci->setFileName(file);
        m_mci->setCommand("Open");
        QCOMPARE(m_mci->Mode(), mode);
        QCOMPARE(m_mci->Error(), error);
        QCOMPARE(m_mci->ErrorMessage().isEmpty(), error == mciErrNone);
        if (mode == mciModeNotOpen) {
            QCOMPARE(m_mci->Length(), 0);
            QCOMPARE(spillFiles(), QStringList());
            m_mci->setCommand("Play");
            QCOMPARE(m_mci->Error(), int(mciErrNotOpen));
        }
    }

    void formats_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("savedFormat");
        const int wav = SF_FORMAT_WAV;
        auto row = [](const char* name, int format, int rate, int channels, int saved) {
            QTest::newRow(name) << format << rate << channels << saved;
        };
        row("8-bit", wav | SF_FORMAT_PCM_U8, 8000, 1, wav | SF_FORMAT_PCM_U8);
        row("16-bit stereo 44.1 kHz", kPcm16, 44100, 2, kPcm16);
        row("24-bit", wav | SF_FORMAT_PCM_24, 22050, 1, wav | SF_FORMAT_PCM_24);
        row("32-bit", wav | SF_FORMAT_PCM_32, 16000, 1, wav | SF_FORMAT_PCM_32);
        row("float", wav | SF_FORMAT_FLOAT, 48000, 2, wav | SF_FORMAT_FLOAT);
        row("mu-law", wav | SF_FORMAT_ULAW, 8000, 1, wav | SF_FORMAT_ULAW);
        row("A-law", wav | SF_FORMAT_ALAW, 8000, 1, wav | SF_FORMAT_ALAW);
        row("IMA ADPCM", wav | SF_FORMAT_IMA_ADPCM, 8000, 1, kPcm16);
        row("MS ADPCM", wav | SF_FORMAT_MS_ADPCM, 11025, 2, kPcm16);
        row("AIFF", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 8000, 1, kPcm16);
    }
    void formats() {
        QFETCH(int, format);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, savedFormat);
        QVERIFY(writeTone(path("in.wav"), format, rate, channels, 1000));
        const WavProbe original(path("in.wav"));
        m_mci->setFileName(path("in.wav"));
        m_mci->setCommand("Open");
        QCOMPARE(m_mci->Error(), 0);
        QCOMPARE(m_mci->Length(), int(original.milliseconds()));

        m_mci->setCommand("Play");
        m_audio->play(400ms);
        QCOMPARE(m_mci->Position(), 400);
        m_mci->setCommand("Stop");
        m_mci->setCommand("Next");
        m_mci->setCommand("Record"); // appends in the same format
        m_audio->capture(500ms);
        m_mci->setCommand("Stop");

        const WavProbe saved = saveAs("out.wav");
        QCOMPARE(m_mci->Error(), 0);
        QCOMPARE(saved.format, savedFormat);
        QCOMPARE(saved.sampleRate, rate);
        QCOMPARE(saved.channels, channels);
        QCOMPARE(saved.frames(), original.frames() + rate / 2);
        const std::size_t appended = std::size_t(original.frames());
        QVERIFY(qAbs(saved.toneHz(appended) - 440) < 5);
        QVERIFY2(qAbs(saved.rms(appended) - 0.5 / std::sqrt(2)) < 0.02,
                 qPrintable(QString::number(saved.rms(appended))));
        for (std::size_t i = 0; i < appended; i += 97)
            QVERIFY(qAbs(saved.mono[i] - original.mono[i]) < 1e-3);
    }

    void saveFailures_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<qint64>("diskRoom"); // -1: the disk has room
        QTest::addColumn<int>("error");
        QTest::newRow("missing folder") << "missing/out.wav" << -1LL << int(mciErrFolderMissing);
        QTest::newRow("target is a folder") << "folder" << -1LL << int(mciErrSaveFailed);
        QTest::newRow("full disk at once") << "kept.wav" << 0LL << int(mciErrSaveFailed);
        QTest::newRow("disk fills midway") << "kept.wav" << 5000LL << int(mciErrSaveFailed);
    }
    void saveFailures() {
        QFETCH(QString, target);
        QFETCH(qint64, diskRoom);
        QFETCH(int, error);
        QVERIFY(QDir(m_dir->path()).mkpath("folder/inside"));
        QVERIFY(writeTone(path("kept.wav"), kPcm16, 8000, 1, 300));
        const QByteArray keptBefore = contentOf(path("kept.wav"));
        const QStringList before = QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden);

        openNew();
        m_mci->setCommand("Record");
        m_audio->capture(2000ms);
        {
            std::optional<FullDisk> full;
            if (diskRoom >= 0) full.emplace(diskRoom);
            m_mci->setFileName(path(target));
            m_mci->setCommand("Save");
        }
        QCOMPARE(m_mci->Error(), error);
        QVERIFY(m_mci->ErrorMessage().contains(QDir::toNativeSeparators(path(target))));
        QCOMPARE(m_mci->Mode(), int(mciModeRecord));
        QCOMPARE(m_mci->Length(), 2000);
        // Nothing half-written is left, and what was there is untouched.
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden), before);
        QCOMPARE(contentOf(path("kept.wav")), keptBefore);
        QVERIFY(QFileInfo(path("folder/inside")).isDir());

        m_audio->capture(500ms);
        QCOMPARE(saveAs("elsewhere.wav").frames(), 20000);
        QCOMPARE(m_mci->Error(), 0);
    }

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    void openNew() {
        m_mci->setFileName(path("new.wav"));
        m_mci->setCommand("Open");
    }
    void openTone(int ms) {
        QVERIFY(writeTone(path("tone.wav"), kPcm16, 8000, 1, ms));
        m_mci->setFileName(path("tone.wav"));
        m_mci->setCommand("open");
        QCOMPARE(m_mci->Error(), 0);
    }
    WavProbe saveAs(const QString& name) {
        m_mci->setFileName(path(name));
        m_mci->setCommand("Save");
        return WavProbe(path(name));
    }

    std::optional<QTemporaryDir> m_dir;
    std::optional<FakeAudio> m_audio;
    std::optional<MMControl> m_mci;
};

QTEST_MAIN(TestMMControl)
#include "tst_mmcontrol.moc"
