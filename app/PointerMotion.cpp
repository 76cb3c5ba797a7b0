#include "PointerMotion.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdlib>

namespace tova {

namespace {

// Raw events reach a client that asked for 2.1 or later even while another client holds a
// grab on the pointer.
constexpr uint16_t kInputMajor = 2, kInputMinor = 2;

bool hasRawMotion(xcb_connection_t* connection) {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_input_id);
    if (!extension || !extension->present) return false;
    xcb_input_xi_query_version_reply_t* version = xcb_input_xi_query_version_reply(
        connection, xcb_input_xi_query_version(connection, kInputMajor, kInputMinor), nullptr);
    const bool recent = version && (version->major_version > kInputMajor ||
                                    (version->major_version == kInputMajor &&
                                     version->minor_version >= kInputMinor));
    std::free(version);
    return recent;
}

bool selectRawMotion(xcb_connection_t* connection, int screen) {
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (; screens.rem && screen > 0; --screen)
        xcb_screen_next(&screens);
    if (!screens.rem) return false;
    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } rawMotion{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_MOTION};
    xcb_generic_error_t* error = xcb_request_check(
        connection,
        xcb_input_xi_select_events_checked(connection, screens.data->root, 1, &rawMotion.head));
    std::free(error);
    return !error;
}

} // namespace

std::unique_ptr<PointerMotion> PointerMotion::watchX11() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(connection) || !hasRawMotion(connection) ||
        !selectRawMotion(connection, screen)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<PointerMotion>(new PointerMotion(connection));
}

PointerMotion::PointerMotion(xcb_connection_t* connection)
    : m_connection(connection)
    , m_reports(xcb_get_file_descriptor(connection), QSocketNotifier::Read) {
    QObject::connect(&m_reports, &QSocketNotifier::activated, &m_reports, [this] {
        m_moved = true;
        m_reports.setEnabled(false);
    });
}

PointerMotion::~PointerMotion() {
    m_reports.setEnabled(false);
    xcb_disconnect(m_connection);
}

bool PointerMotion::movedSinceAsked() {
    // A failed connection reads as ready for ever: it is watched no more, and asking wins.
    if (xcb_connection_has_error(m_connection)) {
        m_reports.setEnabled(false);
        return true;
    }
    if (!m_moved) return false;
    discardReports();
    m_reports.setEnabled(true);
    m_moved = false;
    return true;
}

// Whatever the reports say, the pointer is asked for where it is.
void PointerMotion::discardReports() {
    while (xcb_generic_event_t* report = xcb_poll_for_event(m_connection))
        std::free(report);
}

} // namespace tova
