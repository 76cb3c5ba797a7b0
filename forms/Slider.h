#pragma once

#include <QWidget>

class QSlider;

namespace tova {

// A horizontal slider whose Value and Max are plain 32-bit integers set by code. Value may
// lie above Max: it is kept as set and shown clamped at the end of the track.
class Slider : public QWidget {
    Q_OBJECT
public:
    Slider(int max, int smallChange, int largeChange, QWidget* parent = nullptr);

    int Value() const { return m_value; }
    void setValue(int value);
    int Max() const { return m_max; }
    void setMax(int max);

private:
    void showValue();

    QSlider* m_track;
    int m_value = 0;
    int m_max;
    bool m_updating = false;
};

} // namespace tova
