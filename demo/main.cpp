// tova-demo-modem PORT [RING_SECONDS [MESSAGE]]: a simulated voice modem on the given serial
// port, for trying the program without a telephone line. MESSAGE is the caller's voice as raw
// 16-bit samples at 8000 a second, which the modem streams in voice mode.
#include "DemoModem.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: tova-demo-modem PORT [RING_SECONDS [MESSAGE]]\n");
        return 2;
    }
    const int ringSeconds = args.size() > 2 ? args.at(2).toInt() : 20;
    std::vector<int16_t> message;
    if (QFile voice(args.value(3)); args.size() > 3 && voice.open(QIODevice::ReadOnly)) {
        const QByteArray raw = voice.readAll();
        message.resize(size_t(raw.size() / 2));
        memcpy(message.data(), raw.constData(), message.size() * 2);
    }
    tova::demo::DemoModem modem(args.at(1), std::chrono::seconds(qMax(1, ringSeconds)),
                                std::move(message));
    if (!modem.open()) {
        std::fprintf(stderr, "tova-demo-modem: cannot open %s\n", qPrintable(args.at(1)));
        return 1;
    }
    return app.exec();
}
