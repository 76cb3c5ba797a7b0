#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <span>

class QWidget;

namespace tova {

// Designs give places and sizes in twips, 1/1440 inch: 15 twips are one pixel at 96 dpi.
constexpr int kTwipsPerPixel = 15;

constexpr QSize twipsSize(int width, int height)
{
    return {width / kTwipsPerPixel, height / kTwipsPerPixel};
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
            height / kTwipsPerPixel};
}

// One row of a window's design: a child control by object name, its design-time text
// (nullptr where the control has none) and its place in twips within the client area.
struct ControlDesign {
    const char* name;
    const char* text;
    int left, top, width, height;

    QRect rect() const { return twipsRect(left, top, width, height); }
};

// Gives each named child of `client` its designed text and geometry.
void applyDesign(QWidget* client, std::span<const ControlDesign> design);

// Sets the keyboard focus order over the named children of `client`.
void applyTabOrder(QWidget* client, std::span<const char* const> names);

} // namespace tova
