#pragma once

#include <QByteArray>
#include <QString>

namespace tova {

// The web page's password, kept only as a salted Argon2id hash (libsodium) in
// $XDG_CONFIG_HOME/tova/web-password, readable by the user only.
QString webPasswordPath();
bool hasWebPassword();
// Whether password is the one set; the file is read each time, so a new password counts at once.
bool isWebPassword(const QByteArray& password);
bool storeWebPassword(const QByteArray& password, QString& error);

// `--set-web-password`: asks twice on the terminal without echo and stores the hash.
int setWebPasswordFromTerminal();

} // namespace tova
