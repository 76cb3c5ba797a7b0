#include "FakeAudio.h"
#include "Fakes.h"
#include "RecordingsFolder.h"
#include "TabOrder.h"
#include "WavProbe.h"

#include "MMControl.h"
#include "Slider.h"
#include "frmMain.h"

#include <QAbstractButton>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <optional>

using namespace tova;
using namespace tova::test;
using namespace std::chrono_literals;

namespace {
const QString kRecordingStatus = QStringLiteral("录音进行中............. ");
const QString kPromptStatus = QStringLiteral("请按录音键录音............. ");
const QDateTime kSaveMoment(QDate(2007, 3, 15), QTime(14, 5, 9));

frmMain* window() {
    return DefaultForm<frmMain>::loaded();
}
} // namespace

class RecorderWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void design_data();
    void design();
    void windowAndComponents();
    void loadOpensTheTemporaryFileAndRecordsOnceShown();
    void labelsShowDesignTextsUntilTheFirstUpdate();
    void timeDisplay_data();
    void timeDisplay();
    void rangeGrowsByTenOnlyOnExactEquality();
    void stopFreezesTheRange_data();
    void stopFreezesTheRange();
    void closingBeforeRecordingStoresNothing();
    void hangingUpWhileRecordingStoresWhatWasRecorded();
    void stopRecordStopGivesOneFileWithBothStretches();
    void storedName_data();
    void storedName();
    void recordingsOfTheSameSecondAreKeptApart();
    void failedSaveKeepsTheRecording_data();
    void failedSaveKeepsTheRecording();

private:
    bool startRecording();
    bool statusUpdateAfter(std::chrono::milliseconds recorded);
    int storedMilliseconds(const QString& name) const;
    FixedClock& clock() { return **m_clock; }
    FakeMessageBoxes& boxes() { return **m_boxes; }

    std::optional<FakeAudio> m_audio;
    std::optional<ClockFake> m_clock;
    std::optional<MessageBoxesFake> m_boxes;
    std::optional<RecordingsFolder> m_folder;
};

void RecorderWindowTest::init() {
    m_audio.emplace();
    m_clock.emplace();
    m_boxes.emplace();
    m_folder.emplace();
}

void RecorderWindowTest::cleanup() {
    // A window that a failing test left open; unloaded ones are waiting for deletion.
    delete window();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_folder.reset();
    m_boxes.reset();
    m_clock.reset();
    m_audio.reset();
}

bool RecorderWindowTest::startRecording() {
    frmMain& w = DefaultForm<frmMain>::Show();
    // Quick status updates keep the tests short; the audio only moves on capture().
    w.mci->setUpdateInterval(10);
    return QTest::qWaitFor([&] { return w.mci->Mode() == mciModeRecord; }) && w.changed();
}

bool RecorderWindowTest::statusUpdateAfter(std::chrono::milliseconds recorded) {
    m_audio->capture(recorded);
    QSignalSpy update(window()->mci, &MMControl::StatusUpdate);
    return update.wait(2000);
}

int RecorderWindowTest::storedMilliseconds(const QString& name) const {
    const WavProbe wav(RecordingsFolder::file(name));
    return wav.readable ? int(wav.milliseconds()) : -1;
}

void RecorderWindowTest::design_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("place");

    QTest::newRow("lblNow") << "lblNow"
                            << "现在时间" << QRect(24, 32, 185, 17);
    QTest::newRow("Label1") << "Label1"
                            << "" << QRect(48, 56, 185, 25);
    QTest::newRow("lblTotal") << "lblTotal"
                              << "总共时间" << QRect(24, 88, 225, 25);
    QTest::newRow("sld") << "sld" << QString() << QRect(48, 128, 249, 25);
    QTest::newRow("mci") << "mci" << QString() << QRect(56, 176, 236, 22);
    QTest::newRow("Text1") << "Text1"
                           << "Text1" << QRect(152, 104, 153, 33);
}

void RecorderWindowTest::design() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, place);

    frmMain& w = DefaultForm<frmMain>::Load();
    auto* control = w.findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), place);
    if (auto* label = qobject_cast<QLabel*>(control)) QCOMPARE(label->text(), text);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) QCOMPARE(edit->text(), text);
}

void RecorderWindowTest::windowAndComponents() {
    frmMain& w = DefaultForm<frmMain>::Show();
    QCOMPARE(w.windowTitle(), QStringLiteral("录音机V1.1"));
    QCOMPARE(w.size(), QSize(312, 209));
    QCOMPARE(w.frameGeometry().topLeft(), QGuiApplication::primaryScreen()->geometry().topLeft());
    QVERIFY(w.Text1->isHidden());
    QCOMPARE(w.sld->Value(), 0);
    QCOMPARE(w.sld->Max(), 10);
    QCOMPARE(w.Timer1.interval(), 100);
    QVERIFY(w.Timer1.isActive());
    QCOMPARE(w.mci->DeviceType(), QStringLiteral("WAVEAudio"));

    int shownButtons = 0;
    for (const QAbstractButton* button : w.mci->findChildren<QAbstractButton*>())
        shownButtons += button->isVisibleTo(w.mci) ? 1 : 0;
    QCOMPARE(shownButtons, 9);

    verifyTabOrder({w.mci, w.sld, w.mci});
}

void RecorderWindowTest::loadOpensTheTemporaryFileAndRecordsOnceShown() {
    const QPoint pointer = QCursor::pos();
    frmMain& w = DefaultForm<frmMain>::Load();
    QCOMPARE(w.mci->FileName(), QDir::tempPath() + QStringLiteral("/~temp.wav"));
    QCOMPARE(w.mci->Error(), 0);
    QVERIFY(w.mci->Mode() != mciModeNotOpen);
    QCOMPARE(w.mci->RecordMode(), 1);
    QCOMPARE(w.changed(), false);

    // Not shown yet: nobody could have pressed record.
    QCoreApplication::processEvents();
    QCOMPARE(w.changed(), false);
    QVERIFY(w.mci->Mode() != mciModeRecord);

    QCOMPARE(&DefaultForm<frmMain>::Show(), &w);
    QCOMPARE(w.changed(), false);
    QTRY_COMPARE(w.mci->Mode(), int(mciModeRecord));
    QVERIFY(w.changed());
    QCOMPARE(QCursor::pos(), pointer);

    // Showing it again only brings it to the front.
    QCOMPARE(&DefaultForm<frmMain>::Show(), &w);
    QCOMPARE(w.mci->Mode(), int(mciModeRecord));
}

void RecorderWindowTest::labelsShowDesignTextsUntilTheFirstUpdate() {
    frmMain& w = DefaultForm<frmMain>::Load();
    QCOMPARE(w.Label1->text(), QString());
    QCOMPARE(w.lblNow->text(), QStringLiteral("现在时间"));
    QCOMPARE(w.lblTotal->text(), QStringLiteral("总共时间"));
    QTRY_COMPARE(w.Label1->text(), kPromptStatus);

    QVERIFY(startRecording());
    QTRY_COMPARE(w.Label1->text(), kRecordingStatus);
    QVERIFY(statusUpdateAfter(0ms));
    QCOMPARE(w.lblNow->text(), QStringLiteral("现在时间： 0  秒"));
    QCOMPARE(w.lblTotal->text(), QStringLiteral("总时间： 0  秒"));
}

void RecorderWindowTest::timeDisplay_data() {
    QTest::addColumn<int>("recorded");
    QTest::addColumn<QString>("decimalPoint");
    QTest::addColumn<QString>("seconds");
    QTest::addColumn<int>("value");

    QTest::newRow("half down to even") << 2500 << "."
                                       << "2.5" << 2;
    QTest::newRow("half up to even") << 3500 << "."
                                     << "3.5" << 4;
    QTest::newRow("half a second") << 500 << "."
                                   << "0.5" << 0;
    QTest::newRow("whole seconds") << 7000 << "."
                                   << "7" << 7;
    QTest::newRow("decimal comma") << 12345 << ","
                                   << "12,345" << 12;
}

void RecorderWindowTest::timeDisplay() {
    QFETCH(int, recorded);
    QFETCH(QString, decimalPoint);
    QFETCH(QString, seconds);
    QFETCH(int, value);

    clock().point = decimalPoint;
    QVERIFY(startRecording());
    QVERIFY(statusUpdateAfter(std::chrono::milliseconds(recorded)));
    frmMain* w = window();
    QCOMPARE(w->lblNow->text(), QStringLiteral("现在时间： ") + seconds + QStringLiteral("  秒"));
    QCOMPARE(w->lblTotal->text(), QStringLiteral("总时间： ") + seconds + QStringLiteral("  秒"));
    QCOMPARE(w->sld->Value(), value);
}

void RecorderWindowTest::rangeGrowsByTenOnlyOnExactEquality() {
    QVERIFY(startRecording());
    Slider* sld = window()->sld;
    QList<int> maxima;
    for (int second = 1; second <= 31; ++second) {
        QVERIFY(statusUpdateAfter(1s));
        maxima << sld->Max();
    }
    QList<int> expected;
    for (int second = 1; second <= 31; ++second)
        expected << (second / 10 + 1) * 10;
    QCOMPARE(maxima, expected);

    // Jumping past the end without landing on it leaves the range as it is.
    QVERIFY(statusUpdateAfter(10s));
    QCOMPARE(sld->Value(), 41);
    QCOMPARE(sld->Max(), 40);
    QVERIFY(statusUpdateAfter(1s));
    QCOMPARE(sld->Max(), 40);
}

void RecorderWindowTest::stopFreezesTheRange_data() {
    QTest::addColumn<int>("recorded");
    QTest::addColumn<int>("frozenMax");

    QTest::newRow("slider still at 0") << 400 << 10;
    QTest::newRow("half goes to even") << 2500 << 2;
    QTest::newRow("three seconds") << 3000 << 3;
    QTest::newRow("past the first range") << 12000 << 12;
}

void RecorderWindowTest::stopFreezesTheRange() {
    QFETCH(int, recorded);
    QFETCH(int, frozenMax);

    QVERIFY(startRecording());
    QVERIFY(statusUpdateAfter(std::chrono::milliseconds(recorded)));
    frmMain* w = window();
    w->mci->press(MciButton::Stop);
    QVERIFY(w->mci->Mode() != mciModeRecord);
    QCOMPARE(w->sld->Max(), frozenMax);

    // Stopped, the value can sit at the end without the range growing.
    QVERIFY(statusUpdateAfter(0ms));
    QVERIFY(statusUpdateAfter(0ms));
    QCOMPARE(w->sld->Max(), frozenMax);
    QVERIFY(w->changed());
    QTRY_COMPARE(w->Label1->text(), kRecordingStatus);
}

void RecorderWindowTest::closingBeforeRecordingStoresNothing() {
    QPointer<frmMain> w = &DefaultForm<frmMain>::Load();
    const int openMode = w->mci->Mode();
    QVERIFY(DefaultForm<frmMain>::Unload());
    QCOMPARE(window(), nullptr);
    QCOMPARE(RecordingsFolder::files(), QStringList());
    // No command reached the device: still open, on the temporary file.
    QVERIFY(w);
    QCOMPARE(w->mci->Mode(), openMode);
    QCOMPARE(w->mci->FileName(), QDir::tempPath() + QStringLiteral("/~temp.wav"));
    QCOMPARE(w->cdlg.FileName(), QString());
    QCOMPARE(w->Text1->text(), QStringLiteral("Text1"));
    QCOMPARE(boxes().shown.size(), 0);
}

void RecorderWindowTest::hangingUpWhileRecordingStoresWhatWasRecorded() {
    QVERIFY(startRecording());
    m_audio->capture(3s);
    QPointer<frmMain> w = window();
    QCOMPARE(w->mci->Mode(), int(mciModeRecord));

    QVERIFY(DefaultForm<frmMain>::Unload());
    const QString name = QStringLiteral("2007-3-15140509.wav");
    QCOMPARE(RecordingsFolder::files(), QStringList{name});
    QCOMPARE(storedMilliseconds(name), 3000);
    QVERIFY(w);
    QCOMPARE(w->changed(), false);
    QCOMPARE(w->MousePointer(), int(vbDefault));
    QCOMPARE(w->mci->Mode(), int(mciModeNotOpen));
    QCOMPARE(w->cdlg.FileName(), RecordingsFolder::path() + u'/' + name);
    QCOMPARE(w->Text1->text(), QStringLiteral("14:05:09"));
    QCOMPARE(boxes().shown.size(), 0);
}

void RecorderWindowTest::stopRecordStopGivesOneFileWithBothStretches() {
    QVERIFY(startRecording());
    frmMain* w = window();
    m_audio->capture(2s);
    w->mci->press(MciButton::Stop);
    m_audio->capture(1s); // nobody records this
    w->mci->press(MciButton::Record);
    QCOMPARE(w->mci->Mode(), int(mciModeRecord));
    m_audio->capture(1500ms);
    w->mci->press(MciButton::Stop);
    QVERIFY(w->changed());

    QVERIFY(DefaultForm<frmMain>::Unload());
    const QStringList files = RecordingsFolder::files();
    QCOMPARE(files.size(), 1);
    QCOMPARE(storedMilliseconds(files.first()), 3500);
}

void RecorderWindowTest::storedName_data() {
    QTest::addColumn<QString>("dateFormat");
    QTest::addColumn<QString>("timeFormat");
    QTest::addColumn<QList<QDateTime>>("moments");
    QTest::addColumn<QString>("name");

    QTest::newRow("worked example")
        << "yyyy-M-d"
        << "H:mm:ss" << QList<QDateTime>{kSaveMoment} << "2007-3-15140509.wav";
    QTest::newRow("morning") << "yyyy-M-d"
                             << "H:mm:ss"
                             << QList<QDateTime>{QDateTime(QDate(2008, 1, 5), QTime(9, 3, 7))}
                             << "2008-1-590307.wav";
    QTest::newRow("Chinese short date")
        << "yyyy/M/d"
        << "H:mm:ss" << QList<QDateTime>{kSaveMoment} << "2007-3-15140509.wav";
    QTest::newRow("designator") << "yyyy-M-d"
                                << "h:mm:ss AP" << QList<QDateTime>{kSaveMoment}
                                << "2007-3-1520509 PM.wav";
    // The date is read first: a save that straddles midnight keeps the earlier date.
    QTest::newRow("midnight")
        << "yyyy-M-d"
        << "H:mm:ss"
        << QList<QDateTime>{QDateTime(QDate(2007, 3, 15), QTime(23, 59, 59, 900)),
                            QDateTime(QDate(2007, 3, 16), QTime(0, 0, 0, 100))}
        << "2007-3-1500000.wav";
}

void RecorderWindowTest::storedName() {
    QFETCH(QString, dateFormat);
    QFETCH(QString, timeFormat);
    QFETCH(QList<QDateTime>, moments);
    QFETCH(QString, name);

    clock().dateFormat = dateFormat;
    clock().timeOfDayFormat = timeFormat;
    clock().moments = moments;
    QVERIFY(startRecording());
    m_audio->capture(1s);
    QVERIFY(DefaultForm<frmMain>::Unload());
    QCOMPARE(RecordingsFolder::files(), QStringList{name});
    QCOMPARE(storedMilliseconds(name), 1000);
}

void RecorderWindowTest::recordingsOfTheSameSecondAreKeptApart() {
    for (const auto length : {1s, 2s, 3s}) {
        QVERIFY(startRecording());
        m_audio->capture(length);
        QVERIFY(DefaultForm<frmMain>::Unload());
    }
    QCOMPARE(RecordingsFolder::files(), QStringList({"2007-3-15140509.wav", "2007-3-15140509_2.wav",
                                                     "2007-3-15140509_3.wav"}));
    QCOMPARE(storedMilliseconds("2007-3-15140509.wav"), 1000);
    QCOMPARE(storedMilliseconds("2007-3-15140509_2.wav"), 2000);
    QCOMPARE(storedMilliseconds("2007-3-15140509_3.wav"), 3000);
}

void RecorderWindowTest::failedSaveKeepsTheRecording_data() {
    QTest::addColumn<bool>("diskFull");
    QTest::newRow("disk full") << true;
    QTest::newRow("recordings folder missing") << false;
}

void RecorderWindowTest::failedSaveKeepsTheRecording() {
    QFETCH(bool, diskFull);

    const QDateTime retryMoment = kSaveMoment.addSecs(81);
    clock().moments = {kSaveMoment, kSaveMoment, retryMoment};
    QVERIFY(startRecording());
    QPointer<frmMain> w = window();
    m_audio->capture(2s);
    {
        std::optional<FullDisk> full;
        if (diskFull)
            full.emplace();
        else
            QVERIFY(QDir(RecordingsFolder::path()).removeRecursively());

        QCOMPARE(DefaultForm<frmMain>::Unload(), false);
        QCOMPARE(window(), w.data());
        QVERIFY(w->changed());
        QCOMPARE(w->MousePointer(), int(vbDefault));
        QCOMPARE(w->mci->Mode(), int(mciModeRecord));
        QCOMPARE(w->mci->Length(), 2000);
        QCOMPARE(boxes().shown.size(), 1);
        const auto& box = boxes().shown.first();
        QCOMPARE(box.title, kAppTitle);
        QVERIFY2(box.prompt.contains(QStringLiteral("录音未能保存")), qPrintable(box.prompt));
        QVERIFY(box.prompt.contains(QStringLiteral("2007-3-15140509.wav")));
        QVERIFY(!w->mci->ErrorMessage().isEmpty());
        QVERIFY2(box.prompt.contains(w->mci->ErrorMessage()), qPrintable(box.prompt));
        QTRY_COMPARE(w->Label1->text(), kRecordingStatus);
    }
    if (!diskFull) QVERIFY(QDir().mkpath(RecordingsFolder::path()));

    // The close box asks again; the call went on meanwhile, and all of it is stored.
    m_audio->capture(500ms);
    QVERIFY(w->close());
    QCOMPARE(window(), nullptr);
    QCOMPARE(RecordingsFolder::files(), QStringList{"2007-3-15140630.wav"});
    QCOMPARE(storedMilliseconds("2007-3-15140630.wav"), 2500);
    QCOMPARE(boxes().shown.size(), 1);
}

QTEST_MAIN(RecorderWindowTest)
#include "tst_recorder_window.moc"
