#include "FakeAudio.h"
#include "Fakes.h"
#include "MMControl.h"
#include "RecordingsFolder.h"
#include "Termination.h"
#include "WavProbe.h"
#include "frmMain.h"
#include "frmMain2.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>

using namespace tova;
using namespace tova::test;

// Stopping the process (shutdown, logout) closes the windows first, so a call being recorded
// is stored.
class TestTermination : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { unloadAllOnTermination(); }

    // Any way of asking the process to stop: the recorder is stored first, before the query
    // window asks about its own recording, then every window goes.
    void signalStoresTheCallFirst_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void signalStoresTheCallFirst() {
        QFETCH(int, signal);
        FakeAudio audio;
        ClockFake clock;
        MessageBoxesFake boxes;
        RecordingsFolder folder;
        frmMain& recorder = DefaultForm<frmMain>::Show();
        QTRY_COMPARE(recorder.mci->Mode(), int(mciModeRecord));
        DefaultForm<frmMain2>::Show().findChild<MMControl*>("mci2")->press(MciButton::Record);
        audio.capture(std::chrono::milliseconds(1500));
        QStringList storedWhenAsked;
        boxes->answers = {vbNo};
        boxes->whileShown = [&] { storedWhenAsked = RecordingsFolder::files(); };
        QSignalSpy allGone(&FormRegistry::instance(), &FormRegistry::allUnloaded);

        QCOMPARE(::raise(signal), 0);
        QTRY_COMPARE(allGone.count(), 1);
        QCOMPARE(storedWhenAsked, QStringList{"2007-3-15140509.wav"});
        QCOMPARE(WavProbe(RecordingsFolder::file(storedWhenAsked.value(0))).milliseconds(), 1500);
    }
};

QTEST_MAIN(TestTermination)
#include "tst_termination.moc"
