#include "MMControl.h"

#include "WaveDevice.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <limits>
#include <vector>

namespace tova {

namespace {

const QString kWaveAudio = QStringLiteral("WAVEAudio");

struct ButtonDesign {
    const char* name; // also the command the button carries out
    QStyle::StandardPixmap icon;
    const char* text; // where the style has no icon
    const char* toolTip;
};

// Left to right.
const std::array<ButtonDesign, kMciButtonCount> kButtonDesign{{
    {"Prev", QStyle::SP_MediaSkipBackward, "", "到开头"},
    {"Next", QStyle::SP_MediaSkipForward, "", "到结尾"},
    {"Play", QStyle::SP_MediaPlay, "", "放音"},
    {"Pause", QStyle::SP_MediaPause, "", "暂停"},
    {"Back", QStyle::SP_MediaSeekBackward, "", "后退"},
    {"Step", QStyle::SP_MediaSeekForward, "", "前进"},
    {"Stop", QStyle::SP_MediaStop, "", "停止"},
    {"Record", QStyle::SP_CustomBase, "●", "录音"},
    {"Eject", QStyle::SP_CustomBase, "⏏", "弹出"},
}};

// The buttons each mode enables, in bar order:
//                   Prev   Next   Play   Pause  Back   Step   Stop   Record Eject
struct ModeButtons {
    int mode;
    std::array<bool, kMciButtonCount> enabled;
};
constexpr std::array<ModeButtons, 5> kButtonTable{{
    {mciModeNotOpen, {false, false, false, false, false, false, false, false, false}},
    {mciModeStop, {true, true, true, false, true, true, false, true, false}},
    {mciModePlay, {true, true, false, true, true, true, true, false, false}},
    {mciModeRecord, {false, false, false, true, false, false, true, false, false}},
    {mciModePause, {true, true, true, false, true, true, true, true, false}},
}};

} // namespace

MMControl::MMControl(QWidget* parent)
    : QWidget(parent)
    , m_device(std::make_unique<WaveDevice>())
    , m_statusTimer(new QTimer(this))
    , m_deviceType(kWaveAudio) {
    // The bar is one tab stop; its buttons answer the mouse only, so a click leaves focus alone.
    setFocusPolicy(Qt::TabFocus);
    for (int i = 0; i < kMciButtonCount; ++i) {
        const ButtonDesign& design = kButtonDesign[i];
        auto* button = new QPushButton(this);
        button->setObjectName(QString::fromLatin1(design.name));
        if (design.icon == QStyle::SP_CustomBase)
            button->setText(QString::fromUtf8(design.text));
        else
            button->setIcon(style()->standardIcon(design.icon));
        button->setToolTip(QString::fromUtf8(design.toolTip));
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QPushButton::clicked, this, [this, i] { press(MciButton(i)); });
        m_buttons[i] = button;
    }
    connect(m_device.get(), &WaveDevice::modeChanged, this, &MMControl::updateButtons);
    connect(m_statusTimer, &QTimer::timeout, this, &MMControl::StatusUpdate);
    m_statusTimer->start(kStatusInterval);
    updateButtons();
    layoutButtons();
}

MMControl::~MMControl() {
    // Stopping a stream may run the event loop; no notification may reach a half-gone bar.
    m_statusTimer->stop();
    disconnect(m_device.get(), nullptr, this, nullptr);
    m_device.reset();
}

QString MMControl::DeviceType() const {
    return m_deviceType;
}
void MMControl::setDeviceType(const QString& type) {
    m_deviceType = type;
}
QString MMControl::FileName() const {
    return m_fileName;
}
void MMControl::setFileName(const QString& fileName) {
    m_fileName = fileName;
}
void MMControl::setCallInfo(const CallInfo& call) {
    m_device->setCallInfo(call);
}

void MMControl::setCommand(const QString& command) {
    carryOut(command.trimmed().toLower());
}

void MMControl::carryOut(const QString& command) {
    WaveDevice& device = *m_device;
    if (command == QLatin1String("open")) {
        if (m_deviceType.isEmpty() || m_deviceType.compare(kWaveAudio, Qt::CaseInsensitive) == 0)
            device.open(m_fileName);
        else
            device.fail(mciErrWrongDeviceType, m_deviceType);
    } else if (command == QLatin1String("close")) {
        device.close();
    } else if (command == QLatin1String("save")) {
        device.save(m_fileName);
    } else if (command == QLatin1String("play")) {
        device.play();
    } else if (command == QLatin1String("pause")) {
        device.pause();
    } else if (command == QLatin1String("stop")) {
        device.stop();
    } else if (command == QLatin1String("record")) {
        device.record();
    } else if (command == QLatin1String("prev")) {
        device.seekStart();
    } else if (command == QLatin1String("next")) {
        device.seekEnd();
    } else if (command == QLatin1String("back")) {
        device.step(-1);
    } else if (command == QLatin1String("step")) {
        device.step(+1);
    } else if (command == QLatin1String("sync")) {
        device.sync();
    } else if (command == QLatin1String("keep")) {
        device.closeForRecovery();
    } else if (command == QLatin1String("eject")) {
        device.fail(mciErrUnsupported);
    } else {
        device.fail(mciErrUnknownCommand, command);
    }
}

int MMControl::Mode() const {
    return m_device->mode();
}

int MMControl::Position() const {
    return int(qMin<qint64>(m_device->position(), std::numeric_limits<int>::max()));
}

int MMControl::Length() const {
    return int(qMin<qint64>(m_device->length(), std::numeric_limits<int>::max()));
}

int MMControl::UpdateInterval() const {
    return m_statusTimer->interval();
}

void MMControl::setUpdateInterval(int milliseconds) {
    // 0 turns the notification off.
    m_statusTimer->setInterval(qMax(0, milliseconds));
    if (milliseconds > 0)
        m_statusTimer->start();
    else
        m_statusTimer->stop();
}

int MMControl::RecordMode() const {
    return m_recordMode;
}

void MMControl::setRecordMode(int mode) {
    // Overwriting from the current position is the one way this device records.
    if (mode == 1)
        m_device->clearError();
    else
        m_device->fail(mciErrBadSetting, QString::number(mode));
}

int MMControl::Error() const {
    return m_device->error();
}
QString MMControl::ErrorMessage() const {
    return m_device->errorMessage();
}
int MMControl::RecordFault() const {
    return m_device->recordFault();
}

void MMControl::setButtonVisible(MciButton button, bool visible) {
    m_buttons[int(button)]->setVisible(visible);
    layoutButtons();
}

bool MMControl::isButtonEnabled(MciButton button) const {
    return m_buttons[int(button)]->isEnabled();
}

void MMControl::press(MciButton button) {
    if (!isButtonEnabled(button)) return;
    short cancel = 0;
    if (button == MciButton::Record)
        emit RecordClick(cancel);
    else if (button == MciButton::Stop)
        emit StopClick(cancel);
    if (cancel == 0) carryOut(QString::fromLatin1(kButtonDesign[int(button)].name).toLower());
}

void MMControl::updateButtons() {
    const int mode = m_device->mode();
    for (const ModeButtons& row : kButtonTable) {
        if (row.mode != mode) continue;
        for (int i = 0; i < kMciButtonCount; ++i)
            m_buttons[i]->setEnabled(row.enabled[i]);
    }
}

QSize MMControl::sizeHint() const {
    int shown = 0;
    for (const QPushButton* button : m_buttons)
        shown += button->isHidden() ? 0 : 1;
    return {shown * 28, 24};
}

void MMControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutButtons();
}

void MMControl::keyPressEvent(QKeyEvent* event) {
    // No key stands for a button: activation keys and arrows stop here rather than reach the
    // window.
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void MMControl::layoutButtons() {
    std::vector<QPushButton*> shown;
    for (QPushButton* button : m_buttons)
        if (!button->isHidden()) shown.push_back(button);
    const int count = int(shown.size());
    for (int i = 0; i < count; ++i) {
        const int left = i * width() / count;
        const int right = (i + 1) * width() / count;
        shown[i]->setGeometry(left, 0, right - left, height());
    }
}

} // namespace tova
