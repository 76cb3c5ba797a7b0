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

} // namespace

void unloadAllOnTermination() {
    // Close-on-exec: a program started from here (the browser) must not hold the pair.
    if (g_signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    auto* notifier =
        new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[1], &byte, 1);
        // A refusing window may show a message box, whose event loop brings the next signal.
        static bool unloading = false;
        if (unloading) return;
        unloading = true;
        // Leaves every event loop, a message box's too: nothing is left to answer it.
        if (unloadEverything()) QCoreApplication::exit(0);
        unloading = false;
    });
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QObject::connect(gui, &QGuiApplication::commitDataRequest, gui,
                         [](QSessionManager& session) {
                             if (!unloadEverything()) session.cancel();
                         });
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
