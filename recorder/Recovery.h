#pragma once

namespace tova {

// Stores in the recordings folder every call that a copy of the program left in the working
// folder without storing it (killed, crashed, the power gone), named after its last write,
// and tells the user which. Calls that a running copy still records are left to it. False when
// the process was asked to stop meanwhile.
bool recoverInterruptedCalls();

} // namespace tova
