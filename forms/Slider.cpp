#include "Slider.h"

#include <QHBoxLayout>
#include <QSlider>

namespace tova {

Slider::Slider(int max, int smallChange, int largeChange, QWidget* parent)
    : QWidget(parent)
    , m_track(new QSlider(Qt::Horizontal, this))
    , m_max(max)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_track);
    setFocusProxy(m_track);
    // Tab order skips a widget that takes no focus itself, proxy or not.
    setFocusPolicy(m_track->focusPolicy());
    m_track->setSingleStep(smallChange);
    m_track->setPageStep(largeChange);
    m_track->setTickPosition(QSlider::TicksBelow);
    showValue();
    // A user's move changes Value until the next status update puts it back.
    connect(m_track, &QSlider::valueChanged, this, [this](int value) {
        if (!m_updating)
            m_value = value;
    });
}

void Slider::setValue(int value)
{
    m_value = value;
    showValue();
}

void Slider::setMax(int max)
{
    m_max = max;
    showValue();
}

void Slider::showValue()
{
    m_updating = true;
    m_track->setRange(0, m_max);
    m_track->setValue(m_value);
    m_updating = false;
}

} // namespace tova
