#pragma once

#include <QSocketNotifier>

#include <memory>

struct xcb_connection_t;

namespace tova {

// Tells whether the mouse pointer may have moved, without a question to the X server: the
// server reports raw motion of every pointing device to a connection of our own. After the
// first report nothing is read until the next question, so a moving mouse costs one read per
// question and a still one costs nothing.
class PointerMotion {
public:
    // nullptr when the display is not an X server with version 2.2 of its input extension.
    static std::unique_ptr<PointerMotion> watchX11();
    ~PointerMotion();
    PointerMotion(const PointerMotion&) = delete;
    PointerMotion& operator=(const PointerMotion&) = delete;

    // True at first, and whenever the pointer has moved since the previous call or the
    // connection has failed.
    bool movedSinceAsked();

private:
    explicit PointerMotion(xcb_connection_t* connection);
    void discardReports();

    xcb_connection_t* m_connection;
    QSocketNotifier m_reports;
    bool m_moved = true;
};

} // namespace tova
