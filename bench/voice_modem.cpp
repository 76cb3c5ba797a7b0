// bench_voicemodem PEER: the tests' pty voice modem, a Conexant chipset streaming µ-law at
// 8000 bytes a second, in a process of its own so that its work is not the program's.
#include "VoiceModem.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    tova::test::VoiceModem modem(app.arguments().value(1), tova::test::kChipsets.first());
    return app.exec();
}
