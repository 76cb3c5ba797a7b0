// tova-demo-modem PORT [RING_SECONDS]: a simulated voice modem on the given serial port, for
// trying the program without a telephone line.
#include "DemoModem.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: tova-demo-modem PORT [RING_SECONDS]\n");
        return 2;
    }
    const int ringSeconds = args.size() > 2 ? args.at(2).toInt() : 20;
    tova::demo::DemoModem modem(args.at(1), std::chrono::seconds(qMax(1, ringSeconds)));
    if (!modem.open()) {
        std::fprintf(stderr, "tova-demo-modem: cannot open %s\n", qPrintable(args.at(1)));
        return 1;
    }
    return app.exec();
}
