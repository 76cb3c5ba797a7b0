#pragma once

namespace tova {

// Mode codes as the multimedia standard numbers them; the engine reports them and the button
// bar follows them.
enum MciMode : int {
    mciModeNotOpen = 524,
    mciModeStop = 525,
    mciModePlay = 526,
    mciModeRecord = 527,
    mciModePause = 529,
};

} // namespace tova
