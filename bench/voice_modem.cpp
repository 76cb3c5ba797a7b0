// bench_voicemodem PEER: the tests' pty voice modem, a Conexant chipset streaming µ-law at
// 8000 bytes a second, in a process of its own so that its work is not the program's.
#include "VoiceModem.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const tova::test::Chipset conexant{"0,1,2,8", "131,\"Mu-Law\",8,0,8000,0,0", "0,1", 131,
                                       tova::VoiceCoding::MuLaw};
    tova::test::VoiceModem modem(app.arguments().value(1), conexant);
    return app.exec();
}
