// Preloaded into a test program (tova_add_test's FAULTS): faults of the system, which the test
// turns on and off with files in the folder $TOVA_FAULTS (SystemFaults.h), as no real disk gives
// them on demand.
#include <cerrno>
#include <cstdlib>
#include <string>

#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

namespace {

bool on(const char* fault) {
    static const std::string folder = std::getenv("TOVA_FAULTS") ? std::getenv("TOVA_FAULTS") : "";
    return !folder.empty() && ::access((folder + '/' + fault).c_str(), F_OK) == 0;
}

template <class Function> Function next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

int tova_faults_preloaded = 1;

// NFS without a lock daemon.
int flock(int fd, int operation) {
    if (on("flock-enolck")) return errno = ENOLCK, -1;
    return next<int (*)(int, int)>("flock")(fd, operation);
}

// A filesystem that cannot refuse to replace in a rename.
int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
    if ((flags & RENAME_NOREPLACE) && on("noreplace-einval")) return errno = EINVAL, -1;
    return next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(
        fromFolder, from, toFolder, to, flags);
}

// A disk that stopped answering, though not for ever: a window that waits on it comes back.
int fdatasync(int fd) {
    const timespec piece{0, 10'000'000};
    for (int waited = 0; waited < 3000 && on("disk-stalled"); ++waited)
        ::nanosleep(&piece, nullptr);
    return next<int (*)(int)>("fdatasync")(fd);
}
}
