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

using namespace std::chrono_literals;
using namespace tova;
using namespace tova::test;

namespace {

const QStringList kButtonNames{"Prev", "Next", "Play",   "Pause", "Back",
                               "Step", "Stop", "Record", "Eject"};

QString enabledButtons(const MMControl& mci) {
    QStringList names;
    for (int i = 0; i < kMciButtonCount; ++i)
        if (mci.isButtonEnabled(MciButton(i))) names << kButtonNames[i];
    return names.join(' ');
}

QStringList spillFiles() {
    return QDir(QDir::tempPath()).entryList({"tova-*.wav"}, QDir::Files);
}

} // namespace

class TestMMControl : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void openMissingPathStartsNewRecording();
    void positionAndLengthFollowCapture();
    void recordOverwritesFromPosition();
    void recordStopRecordKeepsBothStretches();
    void saveWhileRecordingStoresAllCaptured();
    void closeDropsContent();
    void spillFileStaysReadableWhileGrowing();
    void modeCodes_data();
    void modeCodes();
    void buttonTable_data();
    void buttonTable();
    void clickNotificationsComeFirstAndCanCancel();
    void setCommandRaisesNoClickNotification();
    void disabledButtonDoesNothing();
    void buttonsShareWidth();
    void barIsOneTabStopThatKeysLeaveAlone();
    void playbackFollowsPlayed();
    void noInputLeavesModeAndSetsError();
    void serverDeathKeepsCapturedAudio();
    void statusUpdateWhateverTheMode();
    void errorClearsAfterWorkingCommand();
    void badFiles_data();
    void badFiles();
    void formats_data();
    void formats();
    void saveFailures_data();
    void saveFailures();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeAudio> m_audio;
    std::unique_ptr<MMControl> m_mci;
    QString path(const QString& name) const { return m_dir->filePath(name); }
    void openNew() {
        m_mci->setFileName(path("new.wav"));
        m_mci->setCommand("Open");
        m_mci->setRecordMode(1);
    }
    void openTone(int ms) {
        QVERIFY(writeTone(path("tone.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, ms));
        m_mci->setFileName(path("tone.wav"));
        m_mci->setCommand("open");
        QCOMPARE(m_mci->Error(), 0);
    }
    WavProbe saveAs(const QString& name) {
        m_mci->setFileName(path(name));
        m_mci->setCommand("Save");
        return WavProbe(path(name));
    }
};

void TestMMControl::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // The working files go to the temporary folder; one of its own per test shows leftovers.
    QVERIFY(QDir(m_dir->path()).mkdir("tmp"));
    qputenv("TMPDIR", QFile::encodeName(path("tmp")));
    m_audio = std::make_unique<FakeAudio>();
    m_mci = std::make_unique<MMControl>();
}

void TestMMControl::cleanup() {
    m_mci.reset();
    m_audio.reset();
    m_dir.reset();
}

void TestMMControl::openMissingPathStartsNewRecording() {
    QCOMPARE(m_mci->Mode(), int(mciModeNotOpen));
    openNew();
    QCOMPARE(m_mci->Error(), 0);
    QCOMPARE(m_mci->ErrorMessage(), QString());
    QCOMPARE(m_mci->Mode(), int(mciModeStop));
    QCOMPARE(m_mci->Length(), 0);
    QCOMPARE(m_mci->Position(), 0);
    QVERIFY(!QFile::exists(path("new.wav")));

    m_mci->setCommand("Record");
    m_audio->capture(250ms);
    const WavProbe saved = saveAs("new.wav");
    QCOMPARE(saved.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    QCOMPARE(saved.sampleRate, 8000);
    QCOMPARE(saved.channels, 1);
    QCOMPARE(saved.frames(), 2000);
}

void TestMMControl::positionAndLengthFollowCapture() {
    openNew();
    m_mci->setCommand("Record");
    QCOMPARE(m_mci->Mode(), int(mciModeRecord));
    m_audio->capture(1500ms);
    QCOMPARE(m_mci->Position(), 1500);
    QCOMPARE(m_mci->Length(), 1500);
    m_audio->capture(1ms);
    QCOMPARE(m_mci->Length(), 1501);
}

void TestMMControl::recordOverwritesFromPosition() {
    openTone(2000);
    QCOMPARE(m_mci->Length(), 2000);
    m_mci->setCommand("Step");
    QCOMPARE(m_mci->Position(), int(WaveDevice::kStepMs));
    m_mci->setCommand("Record");
    m_audio->capture(500ms);
    QCOMPARE(m_mci->Position(), 1500);
    QCOMPARE(m_mci->Length(), 2000);
    m_audio->capture(1000ms);
    QCOMPARE(m_mci->Position(), 2500);
    QCOMPARE(m_mci->Length(), 2500);
    m_mci->setCommand("Stop");
    m_mci->setCommand("Prev");
    QCOMPARE(m_mci->Position(), 0);
    m_mci->setCommand("Next");
    QCOMPARE(m_mci->Position(), 2500);
    m_mci->setCommand("Back");
    QCOMPARE(m_mci->Position(), 1500);
}

void TestMMControl::recordStopRecordKeepsBothStretches() {
    openNew();
    m_mci->press(MciButton::Record);
    m_audio->capture(1000ms);
    m_mci->press(MciButton::Stop);
    QCOMPARE(m_mci->Mode(), int(mciModeStop));
    m_audio->capture(300ms); // nothing records now
    QCOMPARE(m_mci->Length(), 1000);
    m_mci->press(MciButton::Record);
    m_audio->capture(700ms);
    const WavProbe saved = saveAs("both.wav");
    QCOMPARE(saved.milliseconds(), 1700);
    QVERIFY(saved.rms(0) > 0.3);
    QVERIFY(qAbs(saved.toneHz() - 440) < 5);
}

void TestMMControl::saveWhileRecordingStoresAllCaptured() {
    openNew();
    m_mci->setCommand("Record");
    m_audio->capture(1000ms);
    QCOMPARE(saveAs("first.wav").frames(), 8000);
    QCOMPARE(m_mci->Error(), 0);
    QCOMPARE(m_mci->Mode(), int(mciModeRecord));
    m_audio->capture(500ms);
    QCOMPARE(m_mci->Length(), 1500);
    QCOMPARE(saveAs("second.wav").frames(), 12000);
    QCOMPARE(WavProbe(path("first.wav")).frames(), 8000);
}

void TestMMControl::closeDropsContent() {
    openNew();
    m_mci->setCommand("Record");
    m_audio->capture(1000ms);
    QCOMPARE(spillFiles().size(), 1);
    m_mci->setCommand("close");
    QCOMPARE(m_mci->Mode(), int(mciModeNotOpen));
    QCOMPARE(m_mci->Length(), 0);
    QCOMPARE(m_mci->Position(), 0);
    QCOMPARE(spillFiles(), QStringList());
    m_audio->capture(100ms);
    openNew();
    QCOMPARE(m_mci->Length(), 0);
    m_mci->setCommand("Save");
    QCOMPARE(WavProbe(path("new.wav")).frames(), 0);
}

void TestMMControl::spillFileStaysReadableWhileGrowing() {
    openNew();
    m_mci->setCommand("Record");
    for (int second = 1; second <= 3; ++second) {
        m_audio->capture(1000ms);
        const QStringList spills = spillFiles();
        QCOMPARE(spills.size(), 1);
        const WavProbe spill(QDir(QDir::tempPath()).filePath(spills.first()));
        QVERIFY(spill.readable);
        QCOMPARE(spill.milliseconds(), second * 1000);
    }
}

void TestMMControl::modeCodes_data() {
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<int>("mode");
    QTest::newRow("nothing open") << QStringList{} << int(mciModeNotOpen);
    QTest::newRow("Open") << QStringList{"Open"} << int(mciModeStop);
    QTest::newRow("OPEN in capitals") << QStringList{"OPEN"} << int(mciModeStop);
    QTest::newRow("recording") << QStringList{"open", "record"} << int(mciModeRecord);
    QTest::newRow("paused recording")
        << QStringList{"Open", "Record", "Pause"} << int(mciModePause);
    QTest::newRow("stopped recording") << QStringList{"Open", "Record", "Stop"} << int(mciModeStop);
    QTest::newRow("playing") << QStringList{"Open", "Record", "Stop", "Play"} << int(mciModePlay);
    QTest::newRow("paused playing")
        << QStringList{"Open", "Record", "Stop", "Play", "Pause"} << int(mciModePause);
    QTest::newRow("closed") << QStringList{"Open", "Record", "close"} << int(mciModeNotOpen);
    QTest::newRow("play on nothing open") << QStringList{"Play"} << int(mciModeNotOpen);
    QTest::newRow("record after pause")
        << QStringList{"Open", "Record", "Pause", "Record"} << int(mciModeRecord);
}

void TestMMControl::modeCodes() {
    QFETCH(QStringList, commands);
    QFETCH(int, mode);
    m_mci->setFileName(path("new.wav"));
    for (const QString& command : commands) {
        m_mci->setCommand(command);
        m_audio->capture(100ms);
    }
    QCOMPARE(m_mci->Mode(), mode);
}

void TestMMControl::buttonTable_data() {
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("enabled");
    QTest::newRow("not open") << QStringList{} << "";
    QTest::newRow("stopped") << QStringList{"Open"} << "Prev Next Play Back Step Record";
    QTest::newRow("recording") << QStringList{"Open", "Record"} << "Pause Stop";
    QTest::newRow("playing") << QStringList{"Open", "Record", "Stop", "Play"}
                             << "Prev Next Pause Back Step Stop";
    QTest::newRow("paused") << QStringList{"Open", "Record", "Pause"}
                            << "Prev Next Play Back Step Stop Record";
    QTest::newRow("closed again") << QStringList{"Open", "close"} << "";
}

void TestMMControl::buttonTable() {
    QFETCH(QStringList, commands);
    QFETCH(QString, enabled);
    m_mci->setFileName(path("new.wav"));
    for (const QString& command : commands) {
        m_mci->setCommand(command);
        m_audio->capture(100ms);
    }
    QCOMPARE(enabledButtons(*m_mci), enabled);
}

void TestMMControl::clickNotificationsComeFirstAndCanCancel() {
    openNew();
    short recordAnswer = 1;
    QList<int> modesSeen;
    connect(m_mci.get(), &MMControl::RecordClick, this, [&](short& cancel) {
        modesSeen << m_mci->Mode();
        cancel = recordAnswer;
    });
    connect(m_mci.get(), &MMControl::StopClick, this, [&](short& cancel) {
        modesSeen << m_mci->Mode();
        cancel = recordAnswer;
    });
    auto* record = m_mci->findChild<QPushButton*>("Record");
    QVERIFY(record);
    QTest::mouseClick(record, Qt::LeftButton);
    QCOMPARE(m_mci->Mode(), int(mciModeStop)); // cancelled

    recordAnswer = 0;
    QTest::mouseClick(record, Qt::LeftButton);
    QCOMPARE(m_mci->Mode(), int(mciModeRecord));
    m_audio->capture(200ms);

    recordAnswer = 1;
    m_mci->press(MciButton::Stop);
    QCOMPARE(m_mci->Mode(), int(mciModeRecord)); // cancelled
    recordAnswer = 0;
    QTest::mouseClick(m_mci->findChild<QPushButton*>("Stop"), Qt::LeftButton);
    QCOMPARE(m_mci->Mode(), int(mciModeStop));
    // The stop handler still saw the recording mode.
    QCOMPARE(modesSeen, (QList<int>{mciModeStop, mciModeStop, mciModeRecord, mciModeRecord}));
}

void TestMMControl::setCommandRaisesNoClickNotification() {
    int records = 0;
    int stops = 0;
    connect(m_mci.get(), &MMControl::RecordClick, this, [&](short&) { ++records; });
    connect(m_mci.get(), &MMControl::StopClick, this, [&](short&) { ++stops; });
    openNew();
    m_mci->setCommand("Record");
    m_mci->setCommand("Stop");
    QCOMPARE(records, 0);
    QCOMPARE(stops, 0);
    m_mci->press(MciButton::Record);
    QCOMPARE(records, 1);
}

void TestMMControl::disabledButtonDoesNothing() {
    int records = 0;
    connect(m_mci.get(), &MMControl::RecordClick, this, [&](short&) { ++records; });
    m_mci->press(MciButton::Record);
    QTest::mouseClick(m_mci->findChild<QPushButton*>("Record"), Qt::LeftButton);
    QCOMPARE(records, 0);
    QCOMPARE(m_mci->Mode(), int(mciModeNotOpen));
}

void TestMMControl::buttonsShareWidth() {
    m_mci->resize(236, 22);
    m_mci->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_mci.get()));
    QList<QPushButton*> buttons;
    for (const QString& name : kButtonNames)
        buttons << m_mci->findChild<QPushButton*>(name);
    for (int i = 0; i < kMciButtonCount; ++i) {
        QCOMPARE(buttons[i]->x(), i * 236 / 9);
        QVERIFY(qAbs(buttons[i]->width() - 236 / 9) <= 1);
    }
    // Point 191 of the bar lies on the eighth button, Record.
    QCOMPARE(m_mci->childAt(191, 10), buttons[int(MciButton::Record)]);

    m_mci->setButtonVisible(MciButton::Eject, false);
    QVERIFY(buttons.last()->isHidden());
    QCOMPARE(buttons[7]->geometry().right(), 235);
    QCOMPARE(buttons[1]->x(), 236 / 8);
}

void TestMMControl::barIsOneTabStopThatKeysLeaveAlone() {
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

void TestMMControl::playbackFollowsPlayed() {
    openTone(2000);
    m_mci->press(MciButton::Play);
    QCOMPARE(m_mci->Mode(), int(mciModePlay));
    QCOMPARE(m_mci->Position(), 0);
    m_audio->play(500ms);
    QCOMPARE(m_mci->Position(), 500);
    m_mci->press(MciButton::Pause);
    QCOMPARE(m_mci->Mode(), int(mciModePause));
    m_audio->play(500ms);
    QCOMPARE(m_mci->Position(), 500);
    m_mci->press(MciButton::Play);
    m_audio->play(1000ms);
    QCOMPARE(m_mci->Position(), 1500);
    m_audio->play(1000ms);
    QCOMPARE(m_mci->Position(), 2000);
    QCOMPARE(m_mci->Mode(), int(mciModeStop));
    // Play at the end starts over.
    m_mci->press(MciButton::Play);
    m_audio->play(250ms);
    QCOMPARE(m_mci->Position(), 250);
    QCOMPARE(m_mci->Length(), 2000);
}

void TestMMControl::noInputLeavesModeAndSetsError() {
    openNew();
    m_audio->setInputAvailable(false);
    m_mci->press(MciButton::Record);
    QCOMPARE(m_mci->Mode(), int(mciModeStop));
    QCOMPARE(m_mci->Error(), int(mciErrNoInput));
    QVERIFY(!m_mci->ErrorMessage().isEmpty());
    m_audio->setInputAvailable(true);
    m_mci->press(MciButton::Record);
    QCOMPARE(m_mci->Mode(), int(mciModeRecord));
    QCOMPARE(m_mci->Error(), 0);
}

void TestMMControl::serverDeathKeepsCapturedAudio() {
    openNew();
    m_mci->setCommand("Record");
    m_audio->capture(1000ms);
    m_audio->serverDies();
    QCOMPARE(m_mci->Mode(), int(mciModeStop));
    QCOMPARE(m_mci->Error(), int(mciErrInputLost));
    QCOMPARE(m_mci->Length(), 1000);
    QCOMPARE(saveAs("kept.wav").frames(), 8000);

    m_mci->setCommand("Play");
    m_audio->play(300ms);
    m_audio->serverDies();
    QCOMPARE(m_mci->Mode(), int(mciModeStop));
    QCOMPARE(m_mci->Error(), int(mciErrOutputLost));
    QCOMPARE(m_mci->Position(), 300);
}

void TestMMControl::statusUpdateWhateverTheMode() {
    QCOMPARE(m_mci->UpdateInterval(), 250);
    QSignalSpy updates(m_mci.get(), &MMControl::StatusUpdate);
    QVERIFY(updates.wait(1000)); // not open
    openNew();
    m_mci->setCommand("Record");
    updates.clear();
    QVERIFY(updates.wait(1000));
    m_mci->setUpdateInterval(20);
    updates.clear();
    QTRY_VERIFY_WITH_TIMEOUT(updates.count() >= 5, 1000);
}

void TestMMControl::errorClearsAfterWorkingCommand() {
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

void TestMMControl::badFiles_data() {
    QTest::addColumn<QByteArray>("content"); // "" for no file, "/" for a folder
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("error");

    QFile tone(QStringLiteral(TOVA_TEST_DATA "/../fuzz/corpus/pcm16-mono.wav"));
    QVERIFY(tone.open(QIODevice::ReadOnly));
    const QByteArray wav = tone.readAll();
    QByteArray longer = wav;
    longer.truncate(wav.size() - 100);
    QByteArray noChannels = wav;
    noChannels[22] = 0;
    noChannels[23] = 0;

    QTest::newRow("missing") << QByteArray() << int(mciModeStop) << int(mciErrNone);
    QTest::newRow("folder") << QByteArray("/") << int(mciModeNotOpen) << int(mciErrNotAFile);
    QTest::newRow("empty") << QByteArray("\0", 0) << int(mciModeNotOpen) << int(mciErrNotAudio);
    QTest::newRow("garbage") << QByteArray(5000, '\x5a') << int(mciModeNotOpen)
                             << int(mciErrNotAudio);
    QTest::newRow("truncated header") << wav.left(30) << int(mciModeNotOpen) << int(mciErrNotAudio);
    QTest::newRow("zero channels") << noChannels << int(mciModeNotOpen) << int(mciErrNotAudio);
    QTest::newRow("data cut short") << longer << int(mciModeStop) << int(mciErrTruncated);
}

void TestMMControl::badFiles() {
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

void TestMMControl::formats_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("savedFormat");
    const int wav = SF_FORMAT_WAV;
    QTest::newRow("8-bit") << (wav | SF_FORMAT_PCM_U8) << 8000 << 1 << (wav | SF_FORMAT_PCM_U8);
    QTest::newRow("16-bit stereo 44.1 kHz")
        << (wav | SF_FORMAT_PCM_16) << 44100 << 2 << (wav | SF_FORMAT_PCM_16);
    QTest::newRow("24-bit") << (wav | SF_FORMAT_PCM_24) << 22050 << 1 << (wav | SF_FORMAT_PCM_24);
    QTest::newRow("32-bit") << (wav | SF_FORMAT_PCM_32) << 16000 << 1 << (wav | SF_FORMAT_PCM_32);
    QTest::newRow("float") << (wav | SF_FORMAT_FLOAT) << 48000 << 2 << (wav | SF_FORMAT_FLOAT);
    QTest::newRow("mu-law") << (wav | SF_FORMAT_ULAW) << 8000 << 1 << (wav | SF_FORMAT_ULAW);
    QTest::newRow("A-law") << (wav | SF_FORMAT_ALAW) << 8000 << 1 << (wav | SF_FORMAT_ALAW);
    QTest::newRow("IMA ADPCM") << (wav | SF_FORMAT_IMA_ADPCM) << 8000 << 1
                               << (wav | SF_FORMAT_PCM_16);
    QTest::newRow("MS ADPCM") << (wav | SF_FORMAT_MS_ADPCM) << 11025 << 2
                              << (wav | SF_FORMAT_PCM_16);
    QTest::newRow("AIFF") << (SF_FORMAT_AIFF | SF_FORMAT_PCM_16) << 8000 << 1
                          << (wav | SF_FORMAT_PCM_16);
}

void TestMMControl::formats() {
    QFETCH(int, format);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, savedFormat);
    QVERIFY(writeTone(path("in.wav"), format, rate, channels, 1000));
    const WavProbe original(path("in.wav"));
    m_mci->setFileName(path("in.wav"));
    m_mci->setCommand("Open");
    QCOMPARE(m_mci->Error(), 0);
    QCOMPARE(m_mci->Mode(), int(mciModeStop));
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

void TestMMControl::saveFailures_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<qint64>("diskRoom"); // -1: the disk has room
    QTest::addColumn<int>("error");
    QTest::newRow("missing folder") << "missing/out.wav" << qint64(-1) << int(mciErrFolderMissing);
    QTest::newRow("target is a folder") << "folder" << qint64(-1) << int(mciErrSaveFailed);
    QTest::newRow("full disk at once") << "kept.wav" << qint64(0) << int(mciErrSaveFailed);
    QTest::newRow("disk fills midway") << "kept.wav" << qint64(5000) << int(mciErrSaveFailed);
}

void TestMMControl::saveFailures() {
    QFETCH(QString, target);
    QFETCH(qint64, diskRoom);
    QFETCH(int, error);
    QVERIFY(QDir(m_dir->path()).mkpath("folder/inside"));
    QVERIFY(writeTone(path("kept.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 300));
    const QByteArray keptBefore = [&] {
        QFile f(path("kept.wav"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const QStringList before = QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden);

    openNew();
    m_mci->setCommand("Record");
    m_audio->capture(2000ms);
    {
        std::unique_ptr<FullDisk> full;
        if (diskRoom >= 0) full = std::make_unique<FullDisk>(diskRoom);
        m_mci->setFileName(path(target));
        m_mci->setCommand("Save");
    }
    QCOMPARE(m_mci->Error(), error);
    QVERIFY(m_mci->ErrorMessage().contains(QDir::toNativeSeparators(path(target))));
    QCOMPARE(m_mci->Mode(), int(mciModeRecord));
    QCOMPARE(m_mci->Length(), 2000);
    // Nothing half-written is left, and what was there is untouched.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden), before);
    QFile kept(path("kept.wav"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), keptBefore);
    QVERIFY(QFileInfo(path("folder/inside")).isDir());

    // The content is still there to be saved elsewhere.
    m_audio->capture(500ms);
    QCOMPARE(saveAs("elsewhere.wav").frames(), 20000);
    QCOMPARE(m_mci->Error(), 0);
}

QTEST_MAIN(TestMMControl)
#include "tst_mmcontrol.moc"
