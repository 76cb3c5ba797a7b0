#pragma once

class QLabel;

namespace tova {

class MMControl;
class Slider;

// Keeps a position label, a length label and a slider in step with a device, as both
// windows with a device show them.
class PositionDisplay {
public:
    PositionDisplay(const MMControl& device, QLabel& now, QLabel& total, Slider& slider);

    // The periodic update: both texts, the slider's value, and while recording the slider's
    // range grows by 10 s each time the value reaches its end exactly.
    void statusUpdate();
    // Stop pressed: a recording's range ends at the whole seconds recorded.
    void stopClick();

private:
    const MMControl& m_device;
    QLabel& m_now;
    QLabel& m_total;
    Slider& m_slider;
};

} // namespace tova
