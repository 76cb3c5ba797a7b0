#pragma once

#include "Seam.h"

class QSessionManager;

namespace tova {

// What the program asks of the desktop's session manager; tests put in their own.
class SessionManagement {
public:
    virtual ~SessionManagement() = default;
    virtual bool allowsInteraction(QSessionManager& session);
    virtual void cancel(QSessionManager& session);
};
using SessionSeam = Seam<SessionManagement, SessionManagement>;

// When the process is told to end (SIGTERM at shutdown, SIGHUP when its terminal or session
// goes, SIGINT, or the session manager's last word after a logout), every window goes without
// asking: the call is stored, the line hung up, and a recording not yet saved is left for the
// next start to recover. The session manager's request to save first lets the windows ask,
// where it allows that, and a window that refuses cancels the logout; that request closes
// nothing.
void unloadAllOnTermination();

// True once a request to end has unloaded every window.
bool terminationRequested();

} // namespace tova
