#include "PositionDisplay.h"

#include "MMControl.h"
#include "RegionalClock.h"
#include "Slider.h"

#include <QLabel>

namespace tova {

namespace {
constexpr int kRangeStep = 10;

QString timeCaption(const QString& prefix, int milliseconds)
{
    return prefix + secondsText(milliseconds, ClockSeam::get().decimalPoint())
           + QStringLiteral("  秒");
}
} // namespace

PositionDisplay::PositionDisplay(const MMControl& device, QLabel& now, QLabel& total,
                                 Slider& slider)
    : m_device(device)
    , m_now(now)
    , m_total(total)
    , m_slider(slider)
{
}

void PositionDisplay::statusUpdate()
{
    m_now.setText(timeCaption(QStringLiteral("现在时间： "), m_device.Position()));
    m_total.setText(timeCaption(QStringLiteral("总时间： "), m_device.Length()));
    m_slider.setValue(wholeSeconds(m_device.Position()));
    if (m_device.Mode() == mciModeRecord && m_slider.Value() == m_slider.Max())
        m_slider.setMax(m_slider.Max() + kRangeStep);
}

void PositionDisplay::stopClick()
{
    if (m_device.Mode() != mciModeRecord)
        return;
    if (m_slider.Value() > 0)
        m_slider.setMax(m_slider.Value());
}

} // namespace tova
