#pragma once

#include <optional>
#include <string>

#include "platform/file_chooser.h"
#include "platform/win32/win32_common.h"

namespace tempikon::win32 {

// The system's "Open" dialog (GetOpenFileNameW) over owner; the chosen
// file's path, or nullopt when cancelled.
std::optional<std::string> chooseFile(const platform::FileChoice& choice, HWND owner);

}  // namespace tempikon::win32
