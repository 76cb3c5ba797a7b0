#pragma once

namespace tova {

// `tova-recorder --serve`: the call log as a web page, without a display, a modem or the sound
// server, until SIGTERM, SIGINT or SIGHUP. Needs the QCoreApplication of the command line.
int serveWeb();

// `tova-recorder --set-web-password`.
int setWebPassword();

} // namespace tova
