#pragma once

#include <QDir>

#include <dlfcn.h>

namespace tova::test {

// Turns a fault of the system on or off, in a test that runs with the SystemFaults library
// preloaded (tova_add_test's FAULTS): "flock-enolck", "noreplace-einval", "disk-stalled"
// (fdatasync waits while it is on, 30 s at most). False when it is not preloaded.
inline bool setSystemFault(const char* name, bool on) {
    const QDir faults(qEnvironmentVariable("TOVA_FAULTS"));
    QDir().mkpath(faults.path());
    QFile file(faults.filePath(QLatin1String(name)));
    return (on ? file.open(QIODevice::WriteOnly) : !file.exists() || file.remove()) &&
           ::dlsym(RTLD_DEFAULT, "tova_faults_preloaded");
}

} // namespace tova::test
