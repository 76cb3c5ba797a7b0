// Start-up cost: the time from starting a process to its main window being mapped on the X
// display, for the program and for a bare Qt window with the same title, as the median of 11
// alternating runs. A third run in each round, the bare window with one empty line edit, shows
// the share that loading fonts for the first text takes, which no window with text avoids.
// Run it on a display of its own with nothing else mapping windows, e.g.
//   tests/support/with-xvfb.sh build/bench/bench_startup [PROGRAM]
// PROGRAM (default: build/tova-recorder) lets another build be compared.
// COM3 is a pseudo-terminal (socat), so the program opens its port as with a modem.
#include "PtyPair.h"

#include <QCoreApplication>
#include <QProcess>

#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const QByteArray kTitle = QByteArrayLiteral("TOVA电话录音系统V2.0");
constexpr int kRounds = 11;
constexpr int kTimeoutMs = 10000;

xcb_atom_t atom(xcb_connection_t* x, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return result;
}

QByteArray windowTitle(xcb_connection_t* x, xcb_window_t window) {
    static const xcb_atom_t netWmName = atom(x, "_NET_WM_NAME");
    static const xcb_atom_t utf8 = atom(x, "UTF8_STRING");
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(x, xcb_get_property(x, 0, window, netWmName, utf8, 0, 256), nullptr);
    QByteArray title;
    if (reply)
        title = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                           xcb_get_property_value_length(reply));
    free(reply);
    return title;
}

// Milliseconds from start until a window titled kTitle is mapped; -1 when none comes.
double timeToWindow(xcb_connection_t* x, const QString& program, const QStringList& arguments) {
    QProcess process;
    const Clock::time_point start = Clock::now();
    process.start(program, arguments);
    double elapsed = -1;
    pollfd fd{xcb_get_file_descriptor(x), POLLIN, 0};
    while (elapsed < 0 && Clock::now() - start < std::chrono::milliseconds(kTimeoutMs)) {
        xcb_generic_event_t* event = xcb_poll_for_event(x);
        if (!event) {
            poll(&fd, 1, 100);
            continue;
        }
        if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
            const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
            if (windowTitle(x, map->window) == kTitle)
                elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        }
        free(event);
    }
    process.kill();
    process.waitForFinished();
    return elapsed;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString program = argc > 1 ? app.arguments().at(1) : QStringLiteral(TOVA_PROGRAM);
    tova::test::PortFolder ports;
    const auto line = ports.line(3);
    if (!line->isReady()) {
        std::fprintf(stderr, "socat could not make the COM3 pseudo-terminal\n");
        return 1;
    }
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, xcb_setup_roots_iterator(xcb_get_setup(x)).data->root,
                                 XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    const QString bareWindow = QStringLiteral(TOVA_BARE_WINDOW);
    std::vector<double> bare, lineEdit, tova;
    for (int round = 0; round < kRounds; ++round) {
        bare.push_back(timeToWindow(x, bareWindow, {}));
        lineEdit.push_back(timeToWindow(x, bareWindow, {QStringLiteral("--line-edit")}));
        tova.push_back(timeToWindow(x, program, {}));
        if (bare.back() < 0 || lineEdit.back() < 0 || tova.back() < 0) {
            std::fprintf(stderr, "a window did not appear within %d ms\n", kTimeoutMs);
            return 1;
        }
    }
    xcb_disconnect(x);
    std::printf("bare Qt window %.1f ms, with one empty line edit %.1f ms (ratio %.2f), "
                "tova-recorder %.1f ms, ratio %.2f\n",
                median(bare), median(lineEdit), median(lineEdit) / median(bare), median(tova),
                median(tova) / median(bare));
    return 0;
}
