#include "ChineseQtTexts.h"
#include "CommandLine.h"
#include "Form1.h"
#include "Recovery.h"
#include "Termination.h"

#include <QApplication>

#include <fontconfig/fontconfig.h>

#include <thread>

int main(int argc, char** argv) {
    // Options are answered without a display; without any the window starts as fast as ever.
    if (argc > 1)
        if (const auto status = tova::runCommandLine(argc, argv)) return *status;
    // The first text on screen waits for the font configuration; it is read while Qt connects
    // to the display.
    std::thread fontConfig([] { FcInit(); });
    QApplication app(argc, argv);
    fontConfig.join();
    tova::installChineseQtTexts(app);
    // A window that is loaded keeps the program running, shown or not.
    app.setQuitOnLastWindowClosed(false);
    QObject::connect(&tova::FormRegistry::instance(), &tova::FormRegistry::allUnloaded, &app,
                     &QApplication::quit, Qt::QueuedConnection);
    tova::unloadAllOnTermination();
    if (!tova::recoverInterruptedCalls()) return 0;
    tova::DefaultForm<tova::Form1>::Show();
    // Stopped already, during the start-up message.
    if (tova::Form::loadedCount() == 0) return 0;
    return app.exec();
}
