#pragma once

namespace tova {

// When the process is asked to stop (SIGTERM at shutdown, SIGHUP when the session ends,
// SIGINT) or the desktop session ends (its request to commit data), every window is unloaded
// as if closed, so a call being recorded is stored first. A window whose closing check
// refuses stays, and the process with it; a refused logout is cancelled.
void unloadAllOnTermination();

// True once a request to stop has unloaded every window.
bool terminationRequested();

} // namespace tova
