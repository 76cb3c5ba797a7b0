#include "AppInfo.h"
#include "FakeAudio.h"
#include "Fakes.h"
#include "FileListBox.h"
#include "MMControl.h"
#include "QuerySupport.h"
#include "Slider.h"
#include "TabOrder.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace std::chrono_literals;
using namespace tova;
using namespace tova::test;

namespace {

const QString kPrompt = QStringLiteral("需要保存吗？");
const QString kPromptTitle = QStringLiteral("已经有更改！");
constexpr int kPromptStyle = 35;
constexpr auto kRecorded = 2000ms;

QString inRecordings(const QString& name) {
    return recordingsFolder() + QLatin1Char('/') + name;
}

QString nowCaption(const QString& seconds) {
    return QStringLiteral("现在时间： ") + seconds + QStringLiteral("  秒");
}

} // namespace

class QueryWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void design();
    void loadListsEveryFile();
    void missingFolderAtLoad();
    void openSelected();
    void openWithoutSelection();
    void secondOpenReplacesFirst();
    void openWhileChanged_data();
    void openWhileChanged();
    void closeWithoutRecording();
    void closingCheck_data();
    void closingCheck();
    void failedSaveAtClosing_data();
    void failedSaveAtClosing();
    void positionTexts_data();
    void positionTexts();
    void rangeGrowsOnlyOnExactEqualityWhileRecording();
    void rangeKeptDuringPlayback();
    void stopClick_data();
    void stopClick();

private:
    frmMain2& load();
    void recordInWindow();
    QString savePath(const QString& name) const { return m_temp.filePath(name); }
    MMControl* mci2() { return queryControl<MMControl>("mci2"); }
    Slider* sld2() { return queryControl<Slider>("sld2"); }
    QLabel* lblNow2() { return queryControl<QLabel>("lblNow2"); }

    QTemporaryDir m_temp;
    std::optional<FakeAudio> m_audio;
    std::optional<MessageBoxesFake> m_boxes;
    std::optional<FileDialogsFake> m_dialogs;
    std::optional<ClockFake> m_clock;
};

void QueryWindowTest::initTestCase() {
    QVERIFY(m_temp.isValid());
    useTemporaryFolderIn(m_temp);
}

void QueryWindowTest::init() {
    QDir(recordingsFolder()).removeRecursively();
    QVERIFY(QDir().mkpath(recordingsFolder()));
    m_audio.emplace();
    m_boxes.emplace();
    m_dialogs.emplace();
    m_clock.emplace();
}

void QueryWindowTest::cleanup() {
    if (queryWindow()) {
        (*m_boxes)->answers = {vbNo};
        DefaultForm<frmMain2>::Unload();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!queryWindow());
    m_clock.reset();
    m_dialogs.reset();
    m_boxes.reset();
    m_audio.reset();
}

void QueryWindowTest::cleanupTestCase() {
    QDir(recordingsFolder()).removeRecursively();
}

frmMain2& QueryWindowTest::load() {
    return DefaultForm<frmMain2>::Show();
}

void QueryWindowTest::recordInWindow() {
    mci2()->press(MciButton::Record);
    (*m_audio).capture(kRecorded);
    QCOMPARE(mci2()->Mode(), int(mciModeRecord));
    QCOMPARE(queryWindow()->isChanged(), frmMain2::kTrue);
}

void QueryWindowTest::design() {
    frmMain2& window = load();
    QCOMPARE(window.windowTitle(), QStringLiteral("欢迎进入语音查询"));
    QCOMPARE(lblNow2()->text(), QStringLiteral("Label1"));
    QCOMPARE(queryControl<QLabel>("lblTotal2")->text(), QStringLiteral("Label1"));
    QCOMPARE(queryControl<QPushButton>("Command1")->text(), QStringLiteral("退出查询"));
    QCOMPARE(sld2()->Max(), 10);

    auto* bar = window.findChild<QMenuBar*>();
    QVERIFY(bar);
    QCOMPARE(bar->actions().size(), 1);
    QAction* open = bar->actions().constFirst();
    QCOMPARE(open->objectName(), QStringLiteral("mnuFileOpen"));
    QCOMPARE(open->text(), QStringLiteral("打开语音文件"));
    QVERIFY(!open->menu());

    QWidget* client = lblNow2()->parentWidget();
    QCOMPARE(client->size(), QSize(859, 714));
    QVERIFY(client->geometry().top() >= bar->geometry().bottom());
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.frameGeometry().topLeft(),
             QGuiApplication::primaryScreen()->geometry().topLeft());

    int shown = 0;
    for (const QAbstractButton* button : mci2()->findChildren<QAbstractButton*>())
        shown += button->isVisibleTo(mci2()) ? 1 : 0;
    QCOMPARE(shown, 8);

    verifyTabOrder({mci2(), queryControl<QWidget>("File1"), sld2(),
                    queryControl<QWidget>("Command1"), mci2()});
}

void QueryWindowTest::loadListsEveryFile() {
    QVERIFY(writeRecording(QStringLiteral("2007-3-15140509.wav"), 500ms));
    for (const QString& name : {QStringLiteral("notes.txt"), QStringLiteral("README")}) {
        QFile file(inRecordings(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(recordingsFolder()).mkdir(QStringLiteral("old")));

    load();
    auto* list = queryControl<FileListBox>("File1");
    QStringList listed;
    for (int i = 0; i < list->count(); ++i)
        listed << list->item(i)->text();
    const QStringList expected{QStringLiteral("2007-3-15140509.wav"), QStringLiteral("notes.txt"),
                               QStringLiteral("README")};
    QCOMPARE(listed, expected);
    QCOMPARE(list->Path(), recordingsFolder());
    QCOMPARE(list->FileName(), QString());
    QVERIFY(!queryControl<QLabel>("lblFolderMissing")->isVisible());
    QCOMPARE(queryWindow()->isChanged(), frmMain2::kFalse);

    // Stored while the window is loaded: not listed until it loads again.
    QVERIFY(writeRecording(QStringLiteral("2007-3-15150000.wav"), 500ms));
    QCOMPARE(list->count(), expected.size());
}

void QueryWindowTest::missingFolderAtLoad() {
    QVERIFY(QDir(recordingsFolder()).removeRecursively());
    load();
    QCOMPARE(queryControl<FileListBox>("File1")->count(), 0);
    auto* note = queryControl<QLabel>("lblFolderMissing");
    QVERIFY(note->isVisible());
    QVERIFY(note->text().contains(QStringLiteral("录音数据")));

    chooseOpen();
    QCOMPARE(mci2()->FileName(), recordingsFolder() + QLatin1Char('/'));
    QCOMPARE(queryWindow()->isChanged(), frmMain2::kFalse);
    QCOMPARE(queryWindow()->MousePointer(), int(vbDefault));
    QCOMPARE((*m_boxes)->shown.size(), 0);
}

void QueryWindowTest::openSelected() {
    QVERIFY(writeRecording(QStringLiteral("a.wav"), 1500ms));
    load();
    selectFile(QStringLiteral("a.wav"));
    chooseOpen();
    QCOMPARE(mci2()->FileName(), inRecordings(QStringLiteral("a.wav")));
    QCOMPARE(mci2()->Error(), 0);
    QCOMPARE(mci2()->Length(), 1500);
    QCOMPARE(mci2()->Mode(), int(mciModeStop));
    QCOMPARE(queryWindow()->isChanged(), frmMain2::kFalse);
    QCOMPARE(queryWindow()->MousePointer(), int(vbDefault));
}

void QueryWindowTest::openWithoutSelection() {
    QVERIFY(writeRecording(QStringLiteral("a.wav"), 1500ms));
    load();
    chooseOpen();
    QCOMPARE(mci2()->FileName(), recordingsFolder() + QLatin1Char('/'));
    QVERIFY(mci2()->Error() != 0);
    QCOMPARE(mci2()->Length(), 0);
    QCOMPARE(queryWindow()->isChanged(), frmMain2::kFalse);
    QCOMPARE(queryWindow()->MousePointer(), int(vbDefault));
    QCOMPARE((*m_boxes)->shown.size(), 0);
}

void QueryWindowTest::secondOpenReplacesFirst() {
    QVERIFY(writeRecording(QStringLiteral("a.wav"), 1500ms));
    QVERIFY(writeRecording(QStringLiteral("b.wav"), 3000ms));
    load();
    selectFile(QStringLiteral("a.wav"));
    chooseOpen();
    mci2()->press(MciButton::Play);
    (*m_audio).play(1000ms);
    QCOMPARE(mci2()->Position(), 1000);

    selectFile(QStringLiteral("b.wav"));
    chooseOpen();
    QCOMPARE(mci2()->FileName(), inRecordings(QStringLiteral("b.wav")));
    QCOMPARE(mci2()->Mode(), int(mciModeStop));
    QCOMPARE(mci2()->Position(), 0);
    QCOMPARE(mci2()->Length(), 3000);
}

void QueryWindowTest::openWhileChanged_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("dialogAnswer");
    QTest::addColumn<bool>("diskFull");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<bool>("saved");

    QTest::newRow("yes, saved") << int(vbYes) << "kept.wav" << false << true << true;
    QTest::newRow("yes, dialog cancelled") << int(vbYes) << "" << false << false << false;
    QTest::newRow("yes, disk full") << int(vbYes) << "kept.wav" << true << false << false;
    QTest::newRow("no") << int(vbNo) << "" << false << true << false;
    QTest::newRow("cancel") << int(vbCancel) << "" << false << false << false;
}

void QueryWindowTest::openWhileChanged() {
    QFETCH(int, answer);
    QFETCH(QString, dialogAnswer);
    QFETCH(bool, diskFull);
    QFETCH(bool, opened);
    QFETCH(bool, saved);
    const QString target = dialogAnswer.isEmpty() ? QString() : savePath(dialogAnswer);
    QFile::remove(target);

    QVERIFY(writeRecording(QStringLiteral("b.wav"), 3000ms));
    load();
    recordInWindow();
    const QString recordingFile = mci2()->FileName();
    selectFile(QStringLiteral("b.wav"));
    (*m_boxes)->answers = {answer};
    (*m_dialogs)->answers = {target};
    std::optional<FullDisk> full;
    if (diskFull) full.emplace();

    chooseOpen();

    QVERIFY(!(*m_boxes)->shown.isEmpty());
    QCOMPARE((*m_boxes)->shown.first().prompt, kPrompt);
    QCOMPARE((*m_boxes)->shown.first().style, kPromptStyle);
    QCOMPARE((*m_boxes)->shown.first().title, kPromptTitle);
    QCOMPARE((*m_dialogs)->filters,
             answer == vbYes ? QStringList{QStringLiteral("*.wav")} : QStringList{});
    QCOMPARE((*m_boxes)->shown.size(), diskFull ? 2 : 1);
    if (diskFull)
        QVERIFY((*m_boxes)->shown.last().prompt.startsWith(QStringLiteral("录音没有保存")));

    QCOMPARE(QFile::exists(target), saved);
    if (saved) QCOMPARE(WavProbe(target).milliseconds(), qint64(kRecorded.count()));
    if (opened) {
        QCOMPARE(mci2()->FileName(), inRecordings(QStringLiteral("b.wav")));
        QCOMPARE(mci2()->Length(), 3000);
    } else {
        QCOMPARE(mci2()->FileName(), diskFull ? target : recordingFile);
        QCOMPARE(mci2()->Length(), int(kRecorded.count()));
    }
    QCOMPARE(queryWindow()->isChanged(), opened ? frmMain2::kFalse : frmMain2::kTrue);
    QCOMPARE(queryWindow()->MousePointer(), int(vbDefault));
}

void QueryWindowTest::closeWithoutRecording() {
    QVERIFY(writeRecording(QStringLiteral("a.wav"), 1500ms));
    load();
    selectFile(QStringLiteral("a.wav"));
    chooseOpen();
    mci2()->press(MciButton::Play);
    (*m_audio).play(500ms);
    const QPointer<MMControl> device = mci2();

    QTest::mouseClick(queryControl<QPushButton>("Command1"), Qt::LeftButton);

    QVERIFY(!queryWindow());
    QCOMPARE((*m_boxes)->shown.size(), 0);
    // Not sent "close": it still plays the file until it goes with the window.
    QVERIFY(device);
    QCOMPARE(device->Mode(), int(mciModePlay));
    QCOMPARE(device->Position(), 500);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!device);
}

void QueryWindowTest::closingCheck_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("dialogAnswer");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<bool>("saved");

    QTest::newRow("exit, yes, saved") << false << int(vbYes) << "call.wav" << true << true;
    QTest::newRow("exit, yes, dialog cancelled") << false << int(vbYes) << "" << false << false;
    QTest::newRow("exit, no") << false << int(vbNo) << "" << true << false;
    QTest::newRow("exit, cancel") << false << int(vbCancel) << "" << false << false;
    QTest::newRow("close box, no") << true << int(vbNo) << "" << true << false;
    QTest::newRow("close box, cancel") << true << int(vbCancel) << "" << false << false;
}

void QueryWindowTest::closingCheck() {
    QFETCH(bool, closeBox);
    QFETCH(int, answer);
    QFETCH(QString, dialogAnswer);
    QFETCH(bool, closes);
    QFETCH(bool, saved);
    const QString target = dialogAnswer.isEmpty() ? QString() : savePath(dialogAnswer);
    QFile::remove(target);

    frmMain2& window = load();
    recordInWindow();
    const QPointer<MMControl> device = mci2();
    (*m_boxes)->answers = {answer};
    (*m_dialogs)->answers = {target};

    if (closeBox)
        window.close();
    else
        QTest::mouseClick(queryControl<QPushButton>("Command1"), Qt::LeftButton);

    QCOMPARE((*m_boxes)->shown.size(), 1);
    QCOMPARE((*m_boxes)->shown.first().prompt, kPrompt);
    QCOMPARE((*m_boxes)->shown.first().style, kPromptStyle);
    QCOMPARE((*m_boxes)->shown.first().title, kPromptTitle);
    QCOMPARE(QFile::exists(target), saved);
    if (saved) QCOMPARE(WavProbe(target).milliseconds(), qint64(kRecorded.count()));
    QVERIFY(device);
    if (closes) {
        QVERIFY(!queryWindow());
        QCOMPARE(device->Mode(), int(mciModeNotOpen));
        return;
    }
    QCOMPARE(queryWindow(), &window);
    QCOMPARE(window.isChanged(), frmMain2::kTrue);
    QCOMPARE(window.MousePointer(), int(vbDefault));
    QCOMPARE(device->Mode(), int(mciModeRecord));
    QCOMPARE(device->Length(), int(kRecorded.count()));

    // The next close asks again.
    (*m_boxes)->answers = {vbCancel};
    QTest::mouseClick(queryControl<QPushButton>("Command1"), Qt::LeftButton);
    QCOMPARE((*m_boxes)->shown.size(), 2);
    QCOMPARE(queryWindow(), &window);
}

void QueryWindowTest::failedSaveAtClosing_data() {
    QTest::addColumn<bool>("diskFull");
    QTest::addColumn<QString>("dialogAnswer");

    QTest::newRow("disk full") << true << "call.wav";
    QTest::newRow("folder missing") << false << "gone/call.wav";
}

// The recording must survive a save that did not work, and the user must learn why.
void QueryWindowTest::failedSaveAtClosing() {
    QFETCH(bool, diskFull);
    QFETCH(QString, dialogAnswer);
    const QString target = savePath(dialogAnswer);
    QFile::remove(target);

    frmMain2& window = load();
    recordInWindow();
    std::optional<FullDisk> full;
    if (diskFull) full.emplace();
    (*m_boxes)->answers = {vbYes};
    (*m_dialogs)->answers = {target};

    QTest::mouseClick(queryControl<QPushButton>("Command1"), Qt::LeftButton);

    QCOMPARE(queryWindow(), &window);
    QCOMPARE(window.isChanged(), frmMain2::kTrue);
    QCOMPARE(window.MousePointer(), int(vbDefault));
    QVERIFY(!QFile::exists(target));
    QCOMPARE((*m_boxes)->shown.size(), 2);
    const QString reason = mci2()->ErrorMessage();
    QVERIFY(!reason.isEmpty());
    QCOMPARE((*m_boxes)->shown.last().prompt, QStringLiteral("录音没有保存：") + reason);
    QCOMPARE(mci2()->Length(), int(kRecorded.count()));

    // Once the cause is gone, the same content is saved.
    full.reset();
    const QString retry = savePath(QStringLiteral("retry.wav"));
    QFile::remove(retry);
    (*m_boxes)->answers = {vbYes};
    (*m_dialogs)->answers = {retry};
    QTest::mouseClick(queryControl<QPushButton>("Command1"), Qt::LeftButton);
    QVERIFY(!queryWindow());
    QCOMPARE(WavProbe(retry).milliseconds(), qint64(kRecorded.count()));
}

void QueryWindowTest::positionTexts_data() {
    QTest::addColumn<int>("played");
    QTest::addColumn<QString>("point");
    QTest::addColumn<QString>("seconds");
    QTest::addColumn<int>("value");

    QTest::newRow("start") << 0 << "."
                           << "0" << 0;
    QTest::newRow("61234 ms") << 61234 << "."
                              << "61.234" << 61;
    QTest::newRow("half down to even") << 2500 << "."
                                       << "2.5" << 2;
    QTest::newRow("half up to even") << 3500 << "."
                                     << "3.5" << 4;
    QTest::newRow("decimal comma") << 1500 << ","
                                   << "1,5" << 2;
}

void QueryWindowTest::positionTexts() {
    QFETCH(int, played);
    QFETCH(QString, point);
    QFETCH(QString, seconds);
    QFETCH(int, value);
    (*m_clock)->point = point;

    QVERIFY(writeRecording(QStringLiteral("long.wav"), 70s));
    load();
    selectFile(QStringLiteral("long.wav"));
    chooseOpen();
    mci2()->press(MciButton::Play);
    (*m_audio).play(std::chrono::milliseconds(played));

    QTRY_COMPARE(lblNow2()->text(), nowCaption(seconds));
    QCOMPARE(queryControl<QLabel>("lblTotal2")->text(), QStringLiteral("总时间： 70  秒"));
    QCOMPARE(sld2()->Value(), value);
    QCOMPARE(sld2()->Max(), 10);
}

void QueryWindowTest::rangeGrowsOnlyOnExactEqualityWhileRecording() {
    load();
    mci2()->press(MciButton::Record);
    (*m_audio).capture(10s);
    QTRY_COMPARE(sld2()->Max(), 20);
    QCOMPARE(sld2()->Value(), 10);

    (*m_audio).capture(5s);
    QTRY_COMPARE(lblNow2()->text(), nowCaption(QStringLiteral("15")));
    QCOMPARE(sld2()->Max(), 20);

    (*m_audio).capture(5s);
    QTRY_COMPARE(sld2()->Max(), 30);

    // Past the end without ever being on it: the range stays.
    (*m_audio).capture(10600ms);
    QTRY_COMPARE(lblNow2()->text(), nowCaption(QStringLiteral("30.6")));
    QCOMPARE(sld2()->Value(), 31);
    QCOMPARE(sld2()->Max(), 30);
}

void QueryWindowTest::rangeKeptDuringPlayback() {
    QVERIFY(writeRecording(QStringLiteral("long.wav"), 30s));
    load();
    selectFile(QStringLiteral("long.wav"));
    chooseOpen();
    mci2()->press(MciButton::Play);
    (*m_audio).play(10s);
    QTRY_COMPARE(lblNow2()->text(), nowCaption(QStringLiteral("10")));
    QCOMPARE(sld2()->Max(), 10);

    (*m_audio).play(15s);
    QTRY_COMPARE(sld2()->Value(), 25);
    QCOMPARE(sld2()->Max(), 10);
}

void QueryWindowTest::stopClick_data() {
    QTest::addColumn<bool>("recording");
    QTest::addColumn<int>("at");
    QTest::addColumn<int>("max");

    QTest::newRow("recording at 37 s") << true << 37000 << 37;
    QTest::newRow("recording at 0 s") << true << 0 << 10;
    QTest::newRow("playing at 12 s") << false << 12000 << 10;
}

void QueryWindowTest::stopClick() {
    QFETCH(bool, recording);
    QFETCH(int, at);
    QFETCH(int, max);
    const auto duration = std::chrono::milliseconds(at);

    QVERIFY(writeRecording(QStringLiteral("long.wav"), 30s));
    load();
    if (recording) {
        mci2()->press(MciButton::Record);
        (*m_audio).capture(duration);
    } else {
        selectFile(QStringLiteral("long.wav"));
        chooseOpen();
        mci2()->press(MciButton::Play);
        (*m_audio).play(duration);
    }
    QTRY_COMPARE(lblNow2()->text(), nowCaption(QString::number(at / 1000)));

    mci2()->press(MciButton::Stop);
    QCOMPARE(sld2()->Max(), max);
    QCOMPARE(sld2()->Value(), at / 1000);
    // Stopped, the display no longer moves the range.
    QSignalSpy updates(mci2(), &MMControl::StatusUpdate);
    QVERIFY(updates.wait());
    QCOMPARE(sld2()->Max(), max);
}

QTEST_MAIN(QueryWindowTest)
#include "tst_querywindow.moc"
