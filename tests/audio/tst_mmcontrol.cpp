#include "AppInfo.h"
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
    return QDir::temp().entryList({"tova-*.wav"}, QDir::Files) +
           QDir(workingFolder()).entryList({"tova-*.wav"}, QDir::Files);
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
        run("Step Record");
        m_audio->capture(500ms);
        QCOMPARE(m_mci->Position(), int(WaveDevice::kStepMs) + 500);
        QCOMPARE(m_mci->Length(), 2000);
        m_audio->capture(1001ms);
        QCOMPARE(m_mci->Position(), 2501);
        QCOMPARE(m_mci->Length(), 2501);
        run("Stop Prev");
        QCOMPARE(m_mci->Position(), 0);
        run("Next Back");
        QCOMPARE(m_mci->Position(), 1501);
    }

    void recordStopRecordThenSaveAndClose() {
        openNew();
        QVERIFY(!QFile::exists(path("new.wav")));
        m_mci->press(MciButton::Record);
        m_audio->capture(1000ms);
        m_mci->press(MciButton::Stop);
        m_audio->capture(300ms); // nothing records now
        m_mci->press(MciButton::Record);
        m_audio->capture(700ms);
        // Saved while recording; the recording goes on.
        const WavProbe saved = saveAs("both.wav");
        QCOMPARE(m_mci->Mode(), int(mciModeRecord));
        QCOMPARE(saved.format, kPcm16);
        QCOMPARE(saved.sampleRate, 8000);
        QCOMPARE(saved.milliseconds(), 1700);
        QVERIFY(qAbs(saved.toneHz() - 440) < 5);
        m_audio->capture(500ms);
        QCOMPARE(saveAs("more.wav").milliseconds(), 2200);
        QCOMPARE(WavProbe(path("both.wav")).milliseconds(), 1700);

        // The working file grows readable as the call goes on, and close drops it.
        QCOMPARE(spillFiles().size(), 1);
        QCOMPARE(WavProbe(QDir(workingFolder()).filePath(spillFiles().first())).milliseconds(), 2200);
        run("close");
        QCOMPARE(m_mci->Mode(), int(mciModeNotOpen));
        QCOMPARE(m_mci->Length(), 0);
        QCOMPARE(spillFiles(), QStringList());
        openNew();
        QCOMPARE(saveAs("new.wav").frames(), 0);
    }

    void modesAndButtons_data() {
        QTest::addColumn<QString>("commands");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("enabled");
        auto row = [](const char* commands, int mode, const char* enabled) {
            QTest::newRow(commands) << QString(commands) << mode << QString(enabled);
        };
        const char* stopped = "Prev Next Play Back Step Record";
        const char* paused = "Prev Next Play Back Step Stop Record";
        row("Play", mciModeNotOpen, "");
        row("OPEN", mciModeStop, stopped);
        row("open record", mciModeRecord, "Pause Stop");
        row("Open Record Pause", mciModePause, paused);
        row("Open Record Pause Record", mciModeRecord, "Pause Stop");
        row("Open Record Stop", mciModeStop, stopped);
        row("Open Record Stop Play", mciModePlay, "Prev Next Pause Back Step Stop");
        row("Open Record Stop Play Pause", mciModePause, paused);
        row("Open Record close", mciModeNotOpen, "");
    }
    void modesAndButtons() {
        QFETCH(QString, commands);
        QFETCH(int, mode);
        QFETCH(QString, enabled);
        m_mci->setFileName(path("new.wav"));
        for (const QString& command : commands.split(' ')) {
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
        QList<int> seen; // the mode each handler saw, negative for stop
        connect(&*m_mci, &MMControl::RecordClick, this, [&](short& cancel) {
            seen << m_mci->Mode();
            cancel = answer;
        });
        connect(&*m_mci, &MMControl::StopClick, this, [&](short& cancel) {
            seen << -m_mci->Mode();
            cancel = answer;
        });
        openNew();
        run("Record Stop"); // commands raise no notification
        QTest::mouseClick(button("Record"), Qt::LeftButton);
        QCOMPARE(m_mci->Mode(), int(mciModeStop));
        answer = 0;
        QTest::mouseClick(button("Record"), Qt::LeftButton);
        QCOMPARE(m_mci->Mode(), int(mciModeRecord));
        answer = 1;
        m_mci->press(MciButton::Stop);
        QCOMPARE(m_mci->Mode(), int(mciModeRecord));
        QCOMPARE(seen, (QList<int>{mciModeStop, mciModeStop, -mciModeRecord}));
    }

    void buttonsShareWidth() {
        m_mci->resize(236, 22);
        m_mci->show();
        QVERIFY(QTest::qWaitForWindowExposed(&*m_mci));
        for (int i = 0; i < kMciButtonCount; ++i) {
            QCOMPARE(button(kButtonNames[i])->x(), i * 236 / 9);
            QVERIFY(qAbs(button(kButtonNames[i])->width() - 236 / 9) <= 1);
        }
        m_mci->setButtonVisible(MciButton::Eject, false);
        QCOMPARE(button("Record")->geometry().right(), 235);
        QCOMPARE(button("Next")->x(), 236 / 8);
    }

    void barIsOneTabStopThatKeysLeaveAlone() {
        QWidget host;
        auto* before = new QLineEdit(&host);
        auto* mci = new MMControl(&host);
        auto* after = new QLineEdit(&host);
        mci->setFileName(path("new.wav"));
        mci->setCommand("Open");
        host.show();
        verifyTabOrder({before, mci, after});

        mci->setFocus(Qt::TabFocusReason);
        for (int key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Left, Qt::Key_Down})
            QTest::keyClick(mci, Qt::Key(key));
        QCOMPARE(QApplication::focusWidget(), mci);
        QCOMPARE(mci->Mode(), int(mciModeStop));
        // A click on a button leaves the focus where it was.
        before->setFocus();
        QTest::mouseClick(mci->findChild<QPushButton*>("Record"), Qt::LeftButton);
        QCOMPARE(mci->Mode(), int(mciModeRecord));
        QCOMPARE(QApplication::focusWidget(), before);
    }

    void playbackFollowsPlayed() {
        openTone(2000);
        m_mci->press(MciButton::Play);
        m_audio->play(500ms);
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
    }

    void lostSoundDevicesKeepTheContent() {
        openNew();
        m_audio->setInputAvailable(false);
        m_mci->press(MciButton::Record);
        QCOMPARE(m_mci->Mode(), int(mciModeStop));
        QCOMPARE(m_mci->Error(), int(mciErrNoInput));
        m_audio->setInputAvailable(true);
        m_mci->press(MciButton::Record);
        QCOMPARE(m_mci->Error(), 0);

        m_audio->capture(1000ms);
        m_audio->serverDies();
        QCOMPARE(m_mci->Mode(), int(mciModeStop));
        QCOMPARE(m_mci->Error(), int(mciErrInputLost));
        QCOMPARE(saveAs("kept.wav").frames(), 8000);

        run("Play");
        m_audio->play(300ms);
        m_audio->serverDies();
        QCOMPARE(m_mci->Mode(), int(mciModeStop));
        QCOMPARE(m_mci->Error(), int(mciErrOutputLost));
        QCOMPARE(m_mci->Position(), 300);
    }

    void statusUpdatesAndErrors() {
        QSignalSpy updates(&*m_mci, &MMControl::StatusUpdate);
        QVERIFY(updates.wait(1000)); // even with nothing open
        run("Record");
        QCOMPARE(m_mci->Error(), int(mciErrNotOpen));
        run("Dance");
        QCOMPARE(m_mci->Error(), int(mciErrUnknownCommand));
        m_mci->setRecordMode(0);
        QCOMPARE(m_mci->Error(), int(mciErrBadSetting));
        QCOMPARE(m_mci->RecordMode(), 1);
        m_mci->setDeviceType("CDAudio");
        run("Open");
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
        const int shut = mciModeNotOpen, notAudio = mciErrNotAudio;
        QTest::newRow("missing") << QByteArray() << int(mciModeStop) << int(mciErrNone);
        QTest::newRow("folder") << QByteArray("/") << shut << int(mciErrNotAFile);
        QTest::newRow("empty") << QByteArray("", 0) << shut << notAudio;
        QTest::newRow("garbage") << QByteArray(5000, 'Z') << shut << notAudio;
        QTest::newRow("truncated header") << wav.left(30) << shut << notAudio;
        QTest::newRow("zero channels") << noChannels << shut << notAudio;
        QTest::newRow("data cut short")
            << wav.left(wav.size() - 100) << int(mciModeStop) << int(mciErrTruncated);
    }
    void badFiles() {
        QFETCH(QByteArray, content);
        QFETCH(int, mode);
        QFETCH(int, error);
        QFile file(path("bad.wav"));
        if (content == "/")
            QVERIFY(QDir(m_dir->path()).mkdir("bad.wav"));
        else if (!content.isNull())
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        m_mci->setFileName(path("bad.wav"));
        run("Open");
        QCOMPARE(m_mci->Mode(), mode);
        QCOMPARE(m_mci->Error(), error);
        QCOMPARE(m_mci->ErrorMessage().isEmpty(), error == mciErrNone);
        if (mode == mciModeNotOpen) QCOMPARE(spillFiles(), QStringList());
    }

    void formats_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("savedFormat");
        const int wav = SF_FORMAT_WAV;
        QTest::newRow("8-bit") << (wav | SF_FORMAT_PCM_U8) << 8000 << 1 << (wav | SF_FORMAT_PCM_U8);
        QTest::newRow("16-bit stereo 44.1 kHz") << kPcm16 << 44100 << 2 << kPcm16;
        QTest::newRow("float") << (wav | SF_FORMAT_FLOAT) << 48000 << 2 << (wav | SF_FORMAT_FLOAT);
        QTest::newRow("mu-law") << (wav | SF_FORMAT_ULAW) << 8000 << 1 << (wav | SF_FORMAT_ULAW);
        QTest::newRow("IMA ADPCM") << (wav | SF_FORMAT_IMA_ADPCM) << 8000 << 1 << kPcm16;
        QTest::newRow("AIFF") << (SF_FORMAT_AIFF | SF_FORMAT_PCM_16) << 8000 << 1 << kPcm16;
    }
    void formats() {
        QFETCH(int, format);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, savedFormat);
        QVERIFY(writeTone(path("in.wav"), format, rate, channels, 1000));
        const WavProbe original(path("in.wav"));
        m_mci->setFileName(path("in.wav"));
        run("Open Play");
        QCOMPARE(m_mci->Length(), int(original.milliseconds()));
        m_audio->play(400ms);
        QCOMPARE(m_mci->Position(), 400);
        run("Stop Next Record"); // appends in the same format
        m_audio->capture(500ms);

        const WavProbe saved = saveAs("out.wav");
        QCOMPARE(m_mci->Error(), 0);
        QCOMPARE(saved.format, savedFormat);
        QCOMPARE(saved.sampleRate, rate);
        QCOMPARE(saved.channels, channels);
        QCOMPARE(saved.frames(), original.frames() + rate / 2);
        const std::size_t appended = std::size_t(original.frames());
        QVERIFY(qAbs(saved.toneHz(appended) - 440) < 5);
        QVERIFY(qAbs(saved.rms(appended) - 0.5 / std::sqrt(2)) < 0.02);
        for (std::size_t i = 0; i < appended; i += 97)
            QVERIFY(qAbs(saved.mono[i] - original.mono[i]) < 1e-3);
    }

    void saveFailures_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<qint64>("diskRoom"); // -1: the disk has room
        QTest::addColumn<int>("error");
        QTest::newRow("missing folder") << "missing/out.wav" << -1LL << int(mciErrFolderMissing);
        QTest::newRow("target is a folder") << "folder" << -1LL << int(mciErrSaveFailed);
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
        run("Record");
        m_audio->capture(2000ms);
        {
            std::optional<FullDisk> full;
            if (diskRoom >= 0) full.emplace(diskRoom);
            saveAs(target);
        }
        QCOMPARE(m_mci->Error(), error);
        QVERIFY(m_mci->ErrorMessage().contains(QDir::toNativeSeparators(path(target))));
        QCOMPARE(m_mci->Mode(), int(mciModeRecord));
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
    QPushButton* button(const QString& name) { return m_mci->findChild<QPushButton*>(name); }
    void run(const QString& commands) {
        for (const QString& command : commands.split(' '))
            m_mci->setCommand(command);
    }
    void openNew() {
        m_mci->setFileName(path("new.wav"));
        run("Open");
    }
    void openTone(int ms) {
        QVERIFY(writeTone(path("tone.wav"), kPcm16, 8000, 1, ms));
        m_mci->setFileName(path("tone.wav"));
        run("open");
        QCOMPARE(m_mci->Length(), ms);
    }
    WavProbe saveAs(const QString& name) {
        m_mci->setFileName(path(name));
        run("Save");
        return WavProbe(path(name));
    }

    std::optional<QTemporaryDir> m_dir;
    std::optional<FakeAudio> m_audio;
    std::optional<MMControl> m_mci;
};

QTEST_MAIN(TestMMControl)
#include "tst_mmcontrol.moc"
