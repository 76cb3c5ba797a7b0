#pragma once

namespace tova {

// When the process is asked to stop (SIGTERM at shutdown, SIGHUP when the session ends,
// SIGINT), every window is unloaded as if closed, so a call being recorded is stored first.
// A window whose closing check refuses stays, and the process with it.
void unloadAllOnTermination();

} // namespace tova
