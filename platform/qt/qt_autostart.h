#pragma once

#include <optional>
#include <string>

#include "platform/settings_store.h"

namespace tempikon::qt {

// The XDG autostart entry that starts the program with the desktop session,
// resident and minimised: $XDG_CONFIG_HOME/autostart/tempikon-autostart.desktop
// (the packaged example's name, so that a copy of it counts), or in
// ~/.config/autostart/ when XDG_CONFIG_HOME is unset or not absolute.
// nullopt when neither gives a folder.
std::optional<std::string> autostartPath(const std::optional<std::string>& xdgConfigHome,
                                         const std::optional<std::string>& home);

// The entry's text: the keys of the packaged tempikon-autostart.desktop, with
// Exec naming this program by its full path (quoted as the desktop entry
// rules ask) followed by /SERVER /MIN.
std::string autostartEntry(const std::string& program);

// An entry that is there and not switched off (Hidden=true, or
// X-GNOME-Autostart-enabled=false) starts the program.
bool autostartFileEnabled(const std::string& path);

// Writes the entry in one rename, or removes it.
platform::StoreResult writeAutostartFile(const std::string& path, const std::string& program,
                                         bool enabled);

}  // namespace tempikon::qt
