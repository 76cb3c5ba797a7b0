#include "Fakes.h"
#include "FileListBox.h"
#include "Form1.h"
#include "MMControl.h"
#include "PtyPair.h"
#include "QuerySupport.h"
#include "RecordingsFolder.h"
#include "RegionalClock.h"
#include "ToneIntoLine.h"
#include "WavProbe.h"
#include "Windows.h"
#include "frmMain.h"
#include "frmMain2.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <numbers>
#include <optional>

using namespace tova;
using namespace tova::test;

namespace {

const QString kPickUp = QStringLiteral("请您摘下电话机准备通话");
constexpr double kToneHz = 440.0;

} // namespace

// One call from the ring to playing it back, through the pty line, the sound server and the
// three windows in one process.
class CallTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void ringShowsThePrompt();
    void answerStartsTheRecorder();
    void hangUpStoresTheCall();
    void queryPlaysTheCall();

private:
    Form1& mainWindow() { return DefaultForm<Form1>::Show(); }

    QTemporaryDir m_scratch;
    PortFolder m_ports;
    std::optional<RecordingsFolder> m_recordings;
    std::unique_ptr<PtyPair> m_line;
    std::unique_ptr<ScriptedModem> m_modem;
    std::optional<ToneIntoLine> m_tone;
    MessageBoxesFake m_boxes;
    QString m_stored;
};

void CallTest::initTestCase() {
    QVERIFY(m_scratch.isValid());
    useTemporaryFolderIn(m_scratch);
    m_recordings.emplace();
    QVERIFY(RecordingsFolder::files().isEmpty());

    m_line = m_ports.line(3);
    QVERIFY(m_line->isReady());
    m_modem = std::make_unique<ScriptedModem>(m_line->peerLink());
    QVERIFY(m_modem->isOpen());
    m_tone.emplace(kToneHz, 60);
    QVERIFY(m_tone->playing());
}

void CallTest::cleanupTestCase() {
    unloadAllWindows();
    m_tone.reset();
    m_modem.reset();
    m_line.reset();
    m_recordings.reset();
}

void CallTest::ringShowsThePrompt() {
    Form1& form = mainWindow();
    QVERIFY(form.MSComm1.PortOpen());
    QVERIFY(m_boxes->shown.isEmpty());
    // The prompt comes with the first tick of a 100 ms timer after the ring.

    QSignalSpy events(&form.MSComm1, &MSComm::OnComm);
    m_modem->send("\r\nRING\r\n");
    QVERIFY(events.wait());
    QSignalSpy ticks(form.Timer1, &QTimer::timeout);
    QTRY_COMPARE_WITH_TIMEOUT(form.Label1->text(), QStringLiteral("有电话请接电话"), 2000);
    QVERIFY2(ticks.size() <= 1, qPrintable(QString::number(ticks.size())));
}

void CallTest::answerStartsTheRecorder() {
    Form1& form = mainWindow();
    QVERIFY(!DefaultForm<frmMain>::loaded());

    QTest::mouseClick(form.Command3, Qt::LeftButton);

    QCOMPARE(form.Label1->text(), QString());
    frmMain* recorder = DefaultForm<frmMain>::loaded();
    QVERIFY(recorder);
    QVERIFY(recorder->isVisible());
    QTRY_COMPARE(m_modem->commandLines(), QByteArrayList{"AT H1 \r"});
    // Nobody presses the record button: the window does.
    QTRY_COMPARE(recorder->mci->Mode(), int(mciModeRecord));
    QVERIFY(recorder->changed());
    QTRY_COMPARE(form.Label4->text(), kPickUp);
}

void CallTest::hangUpStoresTheCall() {
    Form1& form = mainWindow();
    frmMain* recorder = DefaultForm<frmMain>::loaded();
    QVERIFY(recorder);
    QTRY_VERIFY_WITH_TIMEOUT(recorder->mci->Length() >= 3000, 10000);
    QCOMPARE(recorder->mci->Mode(), int(mciModeRecord));

    const QDateTime before = QDateTime::currentDateTime();
    QTest::mouseClick(form.Command4, Qt::LeftButton);
    const QDateTime after = QDateTime::currentDateTime();

    // The modem's reply can only come once events run again.
    QCOMPARE(form.Label4->text(), QStringLiteral("通话结束"));
    QVERIFY(!DefaultForm<frmMain>::loaded());
    QTRY_COMPARE(m_modem->commandLines(), (QByteArrayList{"AT H1 \r", "AT H0 \r"}));
    QTRY_COMPARE(form.Label4->text(), kPickUp);
    QVERIFY(m_boxes->shown.isEmpty());

    const QStringList files = RecordingsFolder::files();
    QCOMPARE(files.size(), 1);
    const QStringList names = RecordingsFolder::namesBetween(before, after);
    QVERIFY2(names.contains(files.first()), qPrintable(files.first() + " / " + names.join(", ")));
    m_stored = files.first();

    const WavProbe wav(RecordingsFolder::file(m_stored));
    QVERIFY(wav.readable);
    QVERIFY2(wav.milliseconds() >= 2000 && wav.milliseconds() <= 4000,
             qPrintable(QString::number(wav.milliseconds())));
    // The line may take a moment to reach the recording: judge the tone from where it starts.
    std::size_t start = 0;
    while (start < wav.mono.size() && std::abs(wav.mono[start]) < 0.25)
        ++start;
    QVERIFY2(wav.milliseconds() - qint64(start) * 1000 / wav.sampleRate >= 2000,
             qPrintable(QString::number(start)));
    QVERIFY2(std::abs(wav.rms(start) - 0.5 / std::numbers::sqrt2) < 0.05,
             qPrintable(QString::number(wav.rms(start))));
    QVERIFY2(std::abs(wav.toneHz(start) - kToneHz) < 5,
             qPrintable(QString::number(wav.toneHz(start))));
}

void CallTest::queryPlaysTheCall() {
    QVERIFY(!m_stored.isEmpty());
    QTest::mouseClick(mainWindow().Command1, Qt::LeftButton);
    QCOMPARE(queryControl<FileListBox>("File1")->count(), 1);

    selectFile(m_stored);
    chooseOpen();
    auto* mci2 = queryControl<MMControl>("mci2");
    QCOMPARE(mci2->Error(), 0);
    QCOMPARE(qint64(mci2->Length()), WavProbe(RecordingsFolder::file(m_stored)).milliseconds());

    mci2->press(MciButton::Play);
    QTRY_COMPARE_WITH_TIMEOUT(mci2->Position(), mci2->Length(), 10000);
    const QString end = secondsText(mci2->Length(), ClockSeam::get().decimalPoint());
    QTRY_COMPARE(queryControl<QLabel>("lblNow2")->text(),
                 QStringLiteral("现在时间： %1  秒").arg(end));
    QCOMPARE(queryControl<QLabel>("lblTotal2")->text(), QStringLiteral("总时间： %1  秒").arg(end));
    QVERIFY(m_boxes->shown.isEmpty());
}

QTEST_MAIN(CallTest)
#include "tst_call.moc"
