#pragma once

#include "BusyTone.h"

#include <QString>
#include <QStringList>

namespace tova {

// The user's settings file, $XDG_CONFIG_HOME/tova/tova.conf (INI). The program never needs it
// and never writes it; a value it cannot use is named in problems() and its default taken.
class Settings {
public:
    // As read at start; reload() reads the file again.
    static const Settings& current();
    static void reload();
    static QString path();

    // [modem] init: a command line sent after the port opens; empty for none.
    QString modemInit;
    // [modem] callerId: ask the modem to report who calls.
    bool callerId = false;
    // [audio] source: the sound server's source to record; empty for its default input.
    QString audioSource;
    // [audio] source=modem: calls recorded through the voice modem itself.
    bool modemSource = false;
    // [line] busyTone: the tone the exchange plays once the other party has hung up.
    BusyTone busyTone;
    // [line] hangUpOnBusy: a call ends by itself on hearing it.
    bool hangUpOnBusy = true;
    // [web] listen, certificate, key: where `--serve` listens and the PEM files of its TLS
    // certificate, as written; the server judges them.
    QString webListen;
    QString webCertificate;
    QString webKey;
    // One line per bad value, for the user.
    QStringList problems;

private:
    static Settings read();
};

} // namespace tova
