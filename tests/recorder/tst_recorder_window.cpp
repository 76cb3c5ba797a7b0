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
const QDateTime kSaveMoment(QDate(2007, 3, 15), QTime(14, 5, 9));
const QString kStored = QStringLiteral("2007-3-15140509.wav");

frmMain* window() {
    return DefaultForm<frmMain>::loaded();
}

int storedMilliseconds(const QString& name) {
    const WavProbe wav(RecordingsFolder::file(name));
    return wav.readable ? int(wav.milliseconds()) : -1;
}

} // namespace

// The recorder window over the fake sound system, with a clock that stands still.
class RecorderWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_audio.emplace();
        m_clock.emplace();
        m_boxes.emplace();
        m_folder.emplace();
    }
    void cleanup() {
        delete window(); // left open by a failing test
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_folder.reset();
        m_boxes.reset();
        m_clock.reset();
        m_audio.reset();
    }

    void design_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("place");
        auto row = [](const char* name, const QString& text, QRect place) {
            QTest::newRow(name) << QString(name) << text << place;
        };
        row("lblNow", "现在时间", {24, 32, 185, 17});
        row("Label1", "", {48, 56, 185, 25});
        row("lblTotal", "总共时间", {24, 88, 225, 25});
        row("sld", {}, {48, 128, 249, 25});
        row("mci", {}, {56, 176, 236, 22});
        row("Text1", "Text1", {152, 104, 153, 33});
    }
    void design() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QRect, place);
        auto* control = DefaultForm<frmMain>::Load().findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->geometry(), place);
        if (auto* label = qobject_cast<QLabel*>(control)) QCOMPARE(label->text(), text);
        if (auto* edit = qobject_cast<QLineEdit*>(control)) QCOMPARE(edit->text(), text);
    }

    void windowAndComponents() {
        frmMain& w = DefaultForm<frmMain>::Show();
        QCOMPARE(w.windowTitle(), QStringLiteral("录音机V1.1"));
        QCOMPARE(w.size(), QSize(312, 209));
        QVERIFY(w.Text1->isHidden());
        int shownButtons = 0;
        for (const QAbstractButton* button : w.mci->findChildren<QAbstractButton*>())
            shownButtons += button->isVisibleTo(w.mci) ? 1 : 0;
        QCOMPARE(shownButtons, 9);
        verifyTabOrder({w.mci, w.sld, w.mci});
    }

    void loadOpensTheTemporaryFileAndRecordsOnceShown() {
        const QPoint pointer = QCursor::pos();
        frmMain& w = DefaultForm<frmMain>::Load();
        QCOMPARE(w.mci->FileName(), QDir::tempPath() + QStringLiteral("/~temp.wav"));
        // Not shown yet: nobody could have pressed record.
        QCoreApplication::processEvents();
        QCOMPARE(w.changed(), false);
        QCOMPARE(w.mci->Mode(), int(mciModeStop));

        QCOMPARE(&DefaultForm<frmMain>::Show(), &w);
        QCOMPARE(w.changed(), false);
        QTRY_COMPARE(w.mci->Mode(), int(mciModeRecord));
        QVERIFY(w.changed());
        QCOMPARE(QCursor::pos(), pointer);
    }

    void labelsShowDesignTextsUntilTheFirstUpdate() {
        frmMain& w = DefaultForm<frmMain>::Load();
        QCOMPARE(w.Label1->text(), QString());
        QCOMPARE(w.lblNow->text(), QStringLiteral("现在时间"));
        QCOMPARE(w.lblTotal->text(), QStringLiteral("总共时间"));
        QTRY_COMPARE(w.Label1->text(), QStringLiteral("请按录音键录音............. "));

        QVERIFY(startRecording());
        QTRY_COMPARE(w.Label1->text(), kRecordingStatus);
        QVERIFY(statusUpdateAfter(0ms));
        QCOMPARE(w.lblNow->text(), QStringLiteral("现在时间： 0  秒"));
        QCOMPARE(w.lblTotal->text(), QStringLiteral("总时间： 0  秒"));
    }

    void rangeGrowsByTenOnlyOnExactEquality() {
        QVERIFY(startRecording());
        QList<int> maxima, expected;
        for (int second = 1; second <= 31; ++second) {
            QVERIFY(statusUpdateAfter(1s));
            maxima << window()->sld->Max();
            expected << (second / 10 + 1) * 10;
        }
        QCOMPARE(maxima, expected);
        // Jumping past the end without landing on it leaves the range as it is.
        QVERIFY(statusUpdateAfter(10s));
        QCOMPARE(window()->sld->Value(), 41);
        QVERIFY(statusUpdateAfter(1s));
        QCOMPARE(window()->sld->Max(), 40);
    }

    void stopFreezesTheRange_data() {
        QTest::addColumn<int>("recorded");
        QTest::addColumn<int>("frozenMax");
        QTest::newRow("slider still at 0") << 400 << 10;
        QTest::newRow("slider at 2") << 2400 << 2;
    }
    void stopFreezesTheRange() {
        QFETCH(int, recorded);
        QFETCH(int, frozenMax);
        QVERIFY(startRecording());
        QVERIFY(statusUpdateAfter(std::chrono::milliseconds(recorded)));
        frmMain* w = window();
        w->mci->press(MciButton::Stop);
        QCOMPARE(w->sld->Max(), frozenMax);
        // Stopped, the value can sit at the end without the range growing.
        QVERIFY(statusUpdateAfter(0ms));
        QVERIFY(statusUpdateAfter(0ms));
        QCOMPARE(w->sld->Max(), frozenMax);
        QVERIFY(w->changed());
        QTRY_COMPARE(w->Label1->text(), kRecordingStatus);
    }

    void closingBeforeRecordingStoresNothing() {
        QPointer<frmMain> w = &DefaultForm<frmMain>::Load();
        QVERIFY(DefaultForm<frmMain>::Unload());
        QCOMPARE(window(), nullptr);
        QCOMPARE(RecordingsFolder::files(), QStringList());
        // No command reached the device: still open, on the temporary file.
        QVERIFY(w);
        QCOMPARE(w->mci->Mode(), int(mciModeStop));
        QCOMPARE(w->Text1->text(), QStringLiteral("Text1"));
    }

    void hangingUpWhileRecordingStoresWhatWasRecorded() {
        QVERIFY(startRecording());
        m_audio->capture(3s);
        QPointer<frmMain> w = window();
        QVERIFY(DefaultForm<frmMain>::Unload());
        QCOMPARE(RecordingsFolder::files(), QStringList{kStored});
        QCOMPARE(storedMilliseconds(kStored), 3000);
        QCOMPARE(w->mci->Mode(), int(mciModeNotOpen));
        QCOMPARE(w->Text1->text(), QStringLiteral("14:05:09"));
        QCOMPARE(m_boxes.value()->shown.size(), 0);
    }

    void stopRecordStopGivesOneFileWithBothStretches() {
        QVERIFY(startRecording());
        frmMain* w = window();
        m_audio->capture(2s);
        w->mci->press(MciButton::Stop);
        m_audio->capture(1s); // nobody records this
        w->mci->press(MciButton::Record);
        m_audio->capture(1500ms);
        w->mci->press(MciButton::Stop);
        QVERIFY(w->changed());
        QVERIFY(DefaultForm<frmMain>::Unload());
        QCOMPARE(RecordingsFolder::files(), QStringList{kStored});
        QCOMPARE(storedMilliseconds(kStored), 3500);
    }

    void storedName_data() {
        QTest::addColumn<QString>("dateFormat");
        QTest::addColumn<QList<QDateTime>>("moments");
        QTest::addColumn<QString>("name");
        QTest::newRow("Chinese short date") << "yyyy/M/d" << QList{kSaveMoment} << kStored;
        // The date is read first: a save that straddles midnight keeps the earlier date.
        QTest::newRow("midnight") << "yyyy-M-d"
                                  << QList{QDateTime(QDate(2007, 3, 15), QTime(23, 59, 59, 900)),
                                           QDateTime(QDate(2007, 3, 16), QTime(0, 0, 0, 100))}
                                  << "2007-3-1500000.wav";
    }
    void storedName() {
        QFETCH(QString, dateFormat);
        QFETCH(QList<QDateTime>, moments);
        QFETCH(QString, name);
        (*m_clock)->dateFormat = dateFormat;
        (*m_clock)->moments = moments;
        QVERIFY(startRecording());
        m_audio->capture(1s);
        QVERIFY(DefaultForm<frmMain>::Unload());
        QCOMPARE(RecordingsFolder::files(), QStringList{name});
        QCOMPARE(storedMilliseconds(name), 1000);
    }

    void recordingsOfTheSameSecondAreKeptApart() {
        for (const auto length : {1s, 2s, 3s}) {
            QVERIFY(startRecording());
            m_audio->capture(length);
            QVERIFY(DefaultForm<frmMain>::Unload());
        }
        const QStringList names{kStored, "2007-3-15140509_2.wav", "2007-3-15140509_3.wav"};
        QCOMPARE(RecordingsFolder::files(), names);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(storedMilliseconds(names[i]), (i + 1) * 1000);
    }

    void failedSaveKeepsTheRecording_data() {
        QTest::addColumn<bool>("diskFull");
        QTest::newRow("disk full") << true;
        QTest::newRow("recordings folder missing") << false;
    }
    void failedSaveKeepsTheRecording() {
        QFETCH(bool, diskFull);
        (*m_clock)->moments = {kSaveMoment, kSaveMoment, kSaveMoment.addSecs(81)};
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
            QCOMPARE(w->mci->Mode(), int(mciModeRecord));
            QCOMPARE(m_boxes.value()->shown.size(), 1);
            const auto& box = m_boxes.value()->shown.first();
            QCOMPARE(box.title, kAppTitle);
            QVERIFY2(box.prompt.contains(QStringLiteral("录音未能保存")), qPrintable(box.prompt));
            QVERIFY(box.prompt.contains(kStored));
            QVERIFY2(box.prompt.contains(w->mci->ErrorMessage()), qPrintable(box.prompt));
        }
        if (!diskFull) QVERIFY(QDir().mkpath(RecordingsFolder::path()));

        // The close box asks again; the call went on meanwhile, and all of it is stored.
        m_audio->capture(500ms);
        QVERIFY(w->close());
        QCOMPARE(window(), nullptr);
        QCOMPARE(RecordingsFolder::files(), QStringList{"2007-3-15140630.wav"});
        QCOMPARE(storedMilliseconds("2007-3-15140630.wav"), 2500);
        QCOMPARE(m_boxes.value()->shown.size(), 1);
    }

private:
    bool startRecording() {
        frmMain& w = DefaultForm<frmMain>::Show();
        // Quick status updates keep the tests short; the audio only moves on capture().
        w.mci->setUpdateInterval(10);
        return QTest::qWaitFor([&] { return w.mci->Mode() == mciModeRecord; }) && w.changed();
    }
    bool statusUpdateAfter(std::chrono::milliseconds recorded) {
        m_audio->capture(recorded);
        QSignalSpy update(window()->mci, &MMControl::StatusUpdate);
        return update.wait(2000);
    }

    std::optional<FakeAudio> m_audio;
    std::optional<ClockFake> m_clock;
    std::optional<MessageBoxesFake> m_boxes;
    std::optional<RecordingsFolder> m_folder;
};

QTEST_MAIN(RecorderWindowTest)
#include "tst_recorder_window.moc"
