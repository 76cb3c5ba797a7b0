#include "Termination.h"

#include "Form.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace tova {

namespace {

int g_signalPipe[2] = {-1, -1};
bool g_terminated = false;

bool unloadEverything() {
    g_terminated = FormRegistry::instance().unloadAll(vbAppTaskManager);
    return g_terminated;
}

void onSignal(int) {
    // Only async-signal-safe work here: the event loop does the rest.
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[0], &byte, 1);
}

// Qt turns the session manager's "die" into a quit of the application, which would close the
// windows with their questions; they go without, as after a signal.
struct QuitWatch : QObject {
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Quit) unloadEverything();
        return false;
    }
};

} // namespace

bool SessionManagement::allowsInteraction(QSessionManager& session) {
    return session.allowsInteraction();
}

void SessionManagement::cancel(QSessionManager& session) {
    session.cancel();
}

void unloadAllOnTermination() {
    // Close-on-exec: a program started from here (the browser) must not hold the pair.
    if (g_signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    QCoreApplication* app = QCoreApplication::instance();
    auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[1], &byte, 1);
        // Storing the call may wait for the sound server, and the next signal come meanwhile.
        static bool unloading = false;
        if (unloading) return;
        unloading = true;
        unloadEverything();
        // Leaves every event loop, a message box's too: nothing is left to answer it.
        QCoreApplication::exit(0);
        unloading = false;
    });
    app->installEventFilter(new QuitWatch(app));
    // A logout the user may still refuse, or a checkpoint of the session: nothing closes here.
    if (auto* gui = qobject_cast<QGuiApplication*>(app))
        QObject::connect(
            gui, &QGuiApplication::commitDataRequest, gui,
            [](QSessionManager& session) {
                SessionManagement& manager = SessionSeam::get();
                if (manager.allowsInteraction(session) &&
                    !FormRegistry::instance().queryUnloadAll(vbAppWindows))
                    manager.cancel(session);
            },
            Qt::DirectConnection);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT})
        sigaction(signal, &action, nullptr);
}

bool terminationRequested() {
    return g_terminated;
}

} // namespace tova
