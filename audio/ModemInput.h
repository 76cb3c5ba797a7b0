#pragma once

#include "AudioBackend.h"

#include <memory>

namespace tova {

// A call's audio as the voice modem streams it: what the main window publishes on the
// VoiceLine, taken at the device's own collections, never by a wake-up of its own.
// Nothing while no call streams through the modem.
std::unique_ptr<AudioInput> startModemInput(AudioInput::Client& client);

} // namespace tova
