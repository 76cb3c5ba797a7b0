#include "Form1.h"

#include "CallInfo.h"
#include "CallLogExport.h"
#include "Desktop.h"
#include "JournalService.h"
#include "MessageBoxes.h"
#include "PortDiagnosis.h"
#include "RegionalClock.h"
#include "Settings.h"
#include "Twips.h"
#include "VoiceLine.h"
#include "frmMain.h"
#include "frmCallLog.h"
#include "frmMain2.h"

#include <QFont>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QResource>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <chrono>

namespace tova {

const QString Form1::kGameChannelUrl = QStringLiteral("https://game.tova.example/");

namespace {

constexpr short kFirstModemPort = 3;
constexpr short kLastModemPort = 9;

constexpr std::chrono::milliseconds kRingInterval{100};
constexpr std::chrono::milliseconds kDisplayInterval{100};
// A USB modem plugged back in is picked up within this.
constexpr std::chrono::seconds kModemWatchInterval{1};

constexpr QSize kClientSize = twipsSize(9420, 5460);
constexpr QSize kImage1Picture{400, 140};

// The brush-script face of the design; without it, the nearest installed brush face, then the UI
// font.
const QString kLishu = QStringLiteral("隶书");
const QStringList kLishuSubstitutes{QStringLiteral("AR PL KaitiM GB"),
                                    QStringLiteral("AR PL UKai CN"),
                                    QStringLiteral("WenQuanYi Micro Hei")};
constexpr qreal kCommand7Points = 7.5;
constexpr qreal kLabel5Points = 21.75;

const QString kPickUpText = QStringLiteral("请您摘下电话机准备通话");
const QString kRingText = QStringLiteral("有电话请接电话");
const QString kEnterNumberText = QStringLiteral("请输入电话号码");
const QString kDiallingText = QStringLiteral("正在拨号码 －");
const QString kCallEndedText = QStringLiteral("通话结束");
const QString kFarEndHungUpText = QStringLiteral("对方已挂机，通话结束");
const QString kNoVoiceText = QStringLiteral(
    "COM%1 上的MODEM不能用来录音（不支持语音，或没有可用的声音格式），改为从声卡录音。");
const QString kVoiceFailedText = QStringLiteral("MODEM没有开始录音，请检查MODEM后重试!");
const QString kPortClosedText = QStringLiteral("MODEM的COM口没有打开,命令没有发出!");
const QString kNumberRefusedText = QStringLiteral("这个电话号码不能拨出,请检查后重新输入!");
const QString kCommandFailedText = QStringLiteral("命令发送失败,请检查MODEM后重试!");
const QString kModemGoneText = QStringLiteral("MODEM已断开,正在等待重新接上");
const QString kModemBackText = QStringLiteral("MODEM已接上,可以使用了");
const QString kCallerText = QStringLiteral("来电：");
const QString kCalledText = QStringLiteral("去电：");
const QString kMissedText = QStringLiteral("未接来电：%1");
const QString kBadSettingsText = QStringLiteral("设置文件 %1 中有无效的设置，已改用默认值：\n%2");

// What a dial string holds (digits, tone digits, dial modifiers) and what people type around it.
// Anything else, ";" above all, would have the modem run the rest of the line as commands.
const QString kDialCharacters = QStringLiteral("0123456789*#+ABCDabcd,WwPpTt!@ -().");

// Hayes command lines; the blanks in the answer and hang-up lines are part of the command.
const QString kDialPrefix = QStringLiteral("ATDT");
// ";" sends the modem back to command mode after dialling, so it answers "OK".
const QString kDialSuffix = QStringLiteral(";\r");
const QString kAnswerLine = QStringLiteral("AT H1 \r");
const QString kHangUpLine = QStringLiteral("AT H0 \r");

const QString kBrowserProgram = QStringLiteral("IEXPLORE");

constexpr ControlDesign kDesign[] = {
    {"Command2", "拨电话", 6720, 600, 1095, 495},
    {"Command3", "接电话", 6720, 1080, 1095, 495},
    {"Text1", "", 1680, 1440, 2655, 375},
    {"Label2", "请输入电话号码", 120, 1560, 1335, 255},
    {"Command4", "挂断电话", 6720, 1560, 1095, 495},
    {"Command1", "查询语音", 6720, 2040, 1095, 495},
    {"Label4", "", 120, 2400, 1575, 495},
    {"Label1", "", 2520, 2400, 1695, 615},
    {"Command5", "退出", 6720, 2520, 1095, 495},
    {"Command7", "Tova游戏频道", 6720, 3360, 1095, 375},
    {"Text7", "Text7", 2520, 3480, 495, 270},
    {"Text8", "Text8", 3240, 3480, 495, 270},
    {"Label5", "", 6120, 3960, 2655, 615},
    {"Image1", nullptr, 7680, 4800, 1905, 795},
    {"lblCaller", "", 120, 240, 6375, 615},
    // In the free space left of the clock, under the cursor fields: nothing of the design moves.
    {"cmdMissed", "", 120, 3960, 2655, 495},
};

constexpr const char* kTabOrder[] = {"Text1",    "Command3", "Command4", "Text7",   "Text8",
                                     "Command2", "Command1", "Command5", "Command7"};

template <class Control> Control* makeControl(QWidget* parent, const char* name) {
    auto* control = new Control(parent);
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

QLabel* makeLabel(QWidget* parent, const char* name) {
    auto* label = makeControl<QLabel>(parent, name);
    // Labels of the design wrap their text and start at the top left.
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    return label;
}

QFont lishu(qreal points) {
    QFont font(kLishu);
    font.setPointSizeF(points);
    return font;
}

// Both pictures are drawn from app/images/*.svg at build time into raw, uncompressed pixels:
// nothing to decode, no image plugin or SVG renderer to load at start.
QPixmap picture(const char* name, QSize size) {
    const QResource raw(QStringLiteral(":/app/images/%1.argb").arg(QLatin1String(name)));
    Q_ASSERT(raw.size() == qint64(size.width()) * size.height() * 4);
    return QPixmap::fromImage(
        QImage(raw.data(), size.width(), size.height(), QImage::Format_ARGB32_Premultiplied));
}

QIcon designIcon() {
    QIcon icon;
    icon.addPixmap(picture("tova-icon-16", {16, 16}));
    icon.addPixmap(picture("tova-icon-32", {32, 32}));
    return icon;
}

// Trims blanks only: any other character at the ends is the user's and is judged with the rest.
QString trimSpaces(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == u' ')
        ++first;
    while (last > first && text.at(last - 1) == u' ')
        --last;
    return text.sliced(first, last - first);
}

// Why the number cannot be dialled, or nothing when it can. Full-width forms count as what
// they fold to, as they go on the line.
QString numberRefusal(const QString& number) {
    if (number.isEmpty()) return kEnterNumberText;
    const QString folded = number.normalized(QString::NormalizationForm_KC);
    const bool dialString = std::all_of(folded.cbegin(), folded.cend(),
                                        [](QChar c) { return kDialCharacters.contains(c); });
    return dialString ? QString() : kNumberRefusedText;
}

} // namespace

Form1::Form1()
    : m_setup([this](const QString& line) { MSComm1.setOutput(line); })
    , m_voice(MSComm1, m_setup) {
    QFont::insertSubstitutions(kLishu, kLishuSubstitutes);

    setWindowTitle(QStringLiteral("TOVA电话录音系统V2.0"));
    setWindowIcon(designIcon());

    createControls();
    applyDesign(this, kDesign);
    applyTabOrder(this, kTabOrder);
    Text1->setFocus();
    placeAtScreenOrigin(kClientSize);
    setFixedSize(kClientSize);

    connectHandlers();
    Timer1->start();
    Timer2->start();
}

void Form1::createControls() {
    Command2 = makeControl<QPushButton>(this, "Command2");
    Command3 = makeControl<QPushButton>(this, "Command3");
    Text1 = makeControl<QLineEdit>(this, "Text1");
    Label2 = makeLabel(this, "Label2");
    Command4 = makeControl<QPushButton>(this, "Command4");
    Command1 = makeControl<QPushButton>(this, "Command1");
    Label4 = makeLabel(this, "Label4");
    Label1 = makeLabel(this, "Label1");
    Command5 = makeControl<QPushButton>(this, "Command5");
    Command7 = makeControl<QPushButton>(this, "Command7");
    Command7->setFont(lishu(kCommand7Points));
    Text7 = makeControl<QLineEdit>(this, "Text7");
    Text8 = makeControl<QLineEdit>(this, "Text8");
    Label5 = makeLabel(this, "Label5");
    Label5->setFont(lishu(kLabel5Points));
    Image1 = makeControl<QLabel>(this, "Image1");
    Image1->setFrameShape(QFrame::NoFrame);
    Image1->setScaledContents(true);
    Image1->setPixmap(picture("tova-banner", kImage1Picture));
    // What the telephone network says is shown as it is, never as markup.
    lblCaller = makeLabel(this, "lblCaller");
    lblCaller->setTextFormat(Qt::PlainText);
    cmdMissed = makeControl<QPushButton>(this, "cmdMissed");
    cmdMissed->setFlat(true);
    // Outside the design's tab order.
    cmdMissed->setFocusPolicy(Qt::NoFocus);
    cmdMissed->hide();

    Timer1 = makeControl<QTimer>(this, "Timer1");
    Timer1->setInterval(kRingInterval);
    Timer2 = makeControl<QTimer>(this, "Timer2");
    Timer2->setInterval(kDisplayInterval);
    m_modemWatch.setInterval(kModemWatchInterval);
}

void Form1::connectHandlers() {
    connect(&MSComm1, &MSComm::OnComm, this, &Form1::MSComm1_OnComm);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
    connect(&m_modemWatch, &QTimer::timeout, this, &Form1::modemWatch_Timer);
    connect(&m_attempts, &CallAttempts::missed, this, &Form1::attempts_Missed);
    connect(&JournalService::instance(), &JournalService::missedCountChanged, this,
            &Form1::journal_MissedCount);
    connect(cmdMissed, &QPushButton::clicked, this, &Form1::cmdMissed_Click);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Command7, &QPushButton::clicked, this, &Form1::Command7_Click);
    connect(&m_voice, &VoiceCall::lineEnded, this, &Form1::lineEnded);
    connect(&m_voice, &VoiceCall::rang, this, [this] { takeRingsAndReport(QStringLiteral("RING")); });
    connect(&m_voice, &VoiceCall::callerIdSent, this, [this](const QString& report) {
        m_callerId.take(report + QStringLiteral("\r\n"));
        takeRingsAndReport({});
    });
    connect(&m_voice, &VoiceCall::failed, this, [this] { MsgBox(kVoiceFailedText); });
    // Heard by the recorder while it collects the call's audio: handled once that has returned.
    connect(&VoiceLine::instance(), &VoiceLine::hungUp, this, &Form1::lineEnded,
            Qt::QueuedConnection);
}

void Form1::Form_Load() {
    if (const Settings& settings = Settings::current(); !settings.problems.isEmpty())
        MsgBox(kBadSettingsText.arg(Settings::path(), settings.problems.join(u'\n')));
    journal_MissedCount(JournalService::instance().missedCount());
    reportJournalProblems(this);
    if (openModemPort(kFirstModemPort, kLastModemPort)) return modemOpened();
    const QStringList message{
        QStringLiteral("你没有安装好MODEM卡,或COM口没有设置在正确的COM上,软件不能正常使用!")};
    MsgBox((message + PortDiagnosis::unusableModems()).join(u'\n'));
    watchForModem(kFirstModemPort, kLastModemPort);
}

void Form1::Form_Unload(short&) {
    m_modemWatch.stop();
    // A modem set to ignore DTR (&D0) keeps the line off-hook when only the port closes.
    if (m_callUp && MSComm1.PortOpen()) {
        try {
            MSComm1.setOutput(kHangUpLine);
        } catch (const SerialPortError&) {
        }
    }
    MSComm1.setPortOpen(false);
}

bool Form1::openModemPort(short first, short last) {
    // The first port that opens is taken as the modem's: nothing is sent to find out.
    for (short port = first; port <= last; ++port) {
        MSComm1.setCommPort(port);
        try {
            MSComm1.setPortOpen(true);
        } catch (const SerialPortError&) {
        }
        if (MSComm1.PortOpen()) return true;
    }
    return false;
}

void Form1::watchForModem(short first, short last) {
    m_watchedPorts = {first, last};
    m_modemWatch.start();
}

void Form1::modemWatch_Timer() {
    if (!openModemPort(m_watchedPorts.first, m_watchedPorts.second)) return;
    m_modemWatch.stop();
    Label4->setText(kModemBackText);
    modemOpened();
}

void Form1::modemOpened() {
    const Settings& settings = Settings::current();
    m_setup.start(settings);
    if (!settings.modemSource) return;
    m_voice.ask([this](bool canRecord) {
        if (canRecord || std::exchange(m_toldNoVoice, true)) return;
        MsgBox(kNoVoiceText.arg(MSComm1.CommPort()));
    });
}

void Form1::MSComm1_OnComm() {
    if (MSComm1.CommEvent() == comEventDeviceLost) {
        // The port is closed by now; an unplugged modem comes back under the same name.
        Label4->setText(kModemGoneText);
        m_voice.lost();
        watchForModem(MSComm1.CommPort(), MSComm1.CommPort());
        return;
    }
    if (MSComm1.CommEvent() != comEvReceive) return;
    const QString reply = m_callerId.take(MSComm1.Input());
    takeRingsAndReport(reply);
    if (m_setup.takeReply(reply)) return;
    // Each read is judged on its own: a reply split over two reads is not seen.
    if (reply.contains(QStringLiteral("OK"))) Label4->setText(kPickUpText);
}

// Each ring sequence is one call attempt in the journal, with the report that came with it.
void Form1::takeRingsAndReport(const QString& reply) {
    const CallAttempt& attempt = m_attempts.current();
    if (m_callerId.hasReport() &&
        (attempt.key.isEmpty() || attempt.number != m_callerId.number() ||
         attempt.name != m_callerId.name())) {
        m_attempts.callerId(m_callerId.number(), m_callerId.name());
        showCaller(kCallerText, m_callerId.number(), m_callerId.name());
    }
    for (qsizetype rings = reply.count(QLatin1String("RING")); rings > 0; --rings)
        m_attempts.ring();
}

// The phonebook's name first, then the one caller ID gave where it differs.
void Form1::showCaller(const QString& prefix, const QString& number, const QString& name) {
    const QString who = displayName(JournalService::instance().contactName(number), name);
    lblCaller->setText(QStringList{prefix + number, who}.join(u' ').trimmed());
}

// No RING for a while: the caller has given up.
void Form1::attempts_Missed() {
    if (!m_callUp) forgetCaller();
}

void Form1::journal_MissedCount(int count) {
    cmdMissed->setText(kMissedText.arg(count));
    cmdMissed->setVisible(count > 0);
}

void Form1::cmdMissed_Click() {
    DefaultForm<frmCallLog>::Show().showMissed();
}

void Form1::forgetCaller() {
    m_callerId.clear();
    lblCaller->clear();
}

void Form1::Timer1_Timer() {
    // Any reception counts as a ring until an event of another kind comes.
    Label1->setText(MSComm1.CommEvent() == comEvReceive ? kRingText : QString());
}

void Form1::Timer2_Timer() {
    CursorPos = DesktopSeam::get().cursorPos();
    Text7->setText(QString::number(CursorPos.x()));
    Text8->setText(QString::number(CursorPos.y()));
    const RegionalClock& clock = ClockSeam::get();
    Label5->setText(clock.timeText(clock.now().time()));
}

void Form1::Command1_Click() {
    DefaultForm<frmMain2>::Show();
}

void Form1::Command2_Click() {
    const QString number = trimSpaces(Text1->text());
    if (const QString refusal = numberRefusal(number); !refusal.isEmpty()) {
        MsgBox(refusal);
        Text1->setFocus();
        return;
    }
    const QString line = kDialPrefix + number + kDialSuffix;
    const bool sent = writeToModem([&] {
        // What the modem said before the dial must not be taken for its answer to it.
        MSComm1.setInBufferCount(0);
        // Through the modem, the dial goes after the voice-mode lines.
        if (m_voice.canRecord())
            m_voice.start(line);
        else
            MSComm1.setOutput(line);
    });
    if (!sent) return;
    m_callUp = true;
    m_attempts.dialled(number);
    currentCall() = {number, {}, kOutgoing, {}, kCallUnfinished};
    currentAttempt() = m_attempts.current().key;
    showCaller(kCalledText, number, {});
    Label4->setText(kDiallingText + number);
    DefaultForm<frmMain>::Show();
}

void Form1::Command3_Click() {
    Label1->setText(QString());
    const bool sent = writeToModem([this] {
        if (!m_voice.canRecord()) return MSComm1.setOutput(kAnswerLine);
        if (!MSComm1.PortOpen()) throw SerialPortError("the port is not open");
        m_voice.start();
    });
    if (!sent) return;
    m_callUp = true;
    m_attempts.answered();
    currentCall() = {m_callerId.number(), m_callerId.name(), kIncoming, {}, kCallUnfinished};
    currentAttempt() = m_attempts.current().key;
    DefaultForm<frmMain>::Show();
}

void Form1::Command4_Click() {
    hangUp(kCallEndedText, kHungUpHere, false);
}

void Form1::lineEnded() {
    if (m_callUp) hangUp(kFarEndHungUpText, kHungUpThere, true);
}

void Form1::hangUp(const QString& status, const QString& ending, bool byItself) {
    // Through the modem the hang-up line follows the stream's stop; one the program makes by
    // itself waits for its reply like the set-up lines, so that the status stays.
    QString failure;
    if (m_voice.isUp())
        m_voice.hangUp(kHangUpLine);
    else if (byItself)
        m_setup.queue(kHangUpLine);
    else
        failure = tryWrite([this] { MSComm1.setOutput(kHangUpLine); });
    // A modem that is still there may yet take the hang-up when the program ends.
    m_callUp = !failure.isEmpty() && MSComm1.PortOpen();
    forgetCaller();
    m_attempts.hungUp();
    currentCall().ending = ending;
    if (failure.isEmpty()) Label4->setText(status);
    // The call is stored whether or not the modem heard: with the modem gone nothing else
    // would end the recording. A recorder that could not store it stays open and says why.
    DefaultForm<frmMain>::Unload();
    VoiceLine::instance().close();
    currentCall() = {};
    currentAttempt().clear();
    if (!failure.isEmpty()) MsgBox(failure);
}

void Form1::Command5_Click() {
    unloadForm();
}

void Form1::Command7_Click() {
    FileOpen(kBrowserProgram, kGameChannelUrl);
}

bool Form1::writeToModem(const std::function<void()>& write) {
    const QString failure = tryWrite(write);
    if (!failure.isEmpty()) MsgBox(failure);
    return failure.isEmpty();
}

QString Form1::tryWrite(const std::function<void()>& write) {
    // A port open before the write makes any failure the line's: a modem pulled mid-command.
    const QString failure = MSComm1.PortOpen() ? kCommandFailedText : kPortClosedText;
    try {
        write();
        return {};
    } catch (const SerialPortError&) {
        return failure;
    }
}

bool Form1::FileOpen(const QString& StrURL, const QString& ExeParameters) {
    // Only the browser is known by name here, and the user's default browser stands in for it.
    if (StrURL.compare(kBrowserProgram, Qt::CaseInsensitive) != 0) return false;
    return DesktopSeam::get().openUrl(QUrl(ExeParameters));
}

} // namespace tova
