#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tempikon::qt {

// Decides, before the application object exists, whether to run on Qt's
// offscreen platform: only when there is no display and the user has not
// chosen a platform. Values are the environment's (nullopt: unset).
bool needsOffscreen(const std::optional<std::string>& display,
                    const std::optional<std::string>& waylandDisplay,
                    const std::optional<std::string>& qpaPlatform);

// Everything after argv[0], joined with single blanks.
std::string joinArguments(int argc, char** argv);

// The platform a privileged copy may use, from QT_QPA_PLATFORM (nullopt:
// unset): only the plugins Qt installs that need nothing from the user
// (xcb, wayland, offscreen, minimal), without options. nullopt leaves the
// choice to Qt.
std::optional<std::string> platformForSecureRun(const std::optional<std::string>& requested);

// Folders for installed data: the executable's folder, <exe>/../share/tempikon,
// then the install prefix's data folder; duplicates removed.
std::vector<std::string> dataDirectoriesFor(const std::string& executableDir,
                                            const std::string& installedDataDir);

}  // namespace tempikon::qt
