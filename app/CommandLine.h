#pragma once

#include <optional>

namespace tova {

// The program's options (--help, --version, --ports, --serve, --set-web-password), handled
// without a display. The exit status when an option was given or refused; nothing when the
// windows are to start.
std::optional<int> runCommandLine(int& argc, char** argv);

} // namespace tova
