// Holds a serial port open the way another program would, until its standard input closes.
#include <QCoreApplication>
#include <QFileInfo>
#include <QSerialPort>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) return 2;
    // Like any program, it opens the device itself, not a link to it.
    QSerialPort port(QFileInfo(QString::fromLocal8Bit(argv[1])).canonicalFilePath());
    if (!port.open(QIODevice::ReadWrite)) return 1;
    std::puts("holding");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
