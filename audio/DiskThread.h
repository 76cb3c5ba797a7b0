#pragma once

#include <chrono>
#include <functional>

namespace tova {

// Runs work on the disk that may not come back soon (a sync or a rename on a disk that stopped
// answering: an NFS server gone away, a dying USB disk) on a thread of its own, one job after
// another in the order given, so that the window's thread waits on it no longer than it chooses.
// Waits up to wait for the job; true when it has run by then.
bool onDiskThread(std::function<void()> job, std::chrono::milliseconds wait = {});

} // namespace tova
