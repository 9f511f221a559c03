#pragma once

#include <cstddef>
#include <string>

#include "platform/settings_store.h"

namespace tempikon::platform {

// What reading a state file gave: its bytes (empty when it does not exist
// yet), or why it was left alone.
struct FileRead {
    bool ok = true;
    std::string text;
    std::string reason;
};

// A file the program keeps about its own work (the history of its settings),
// in the user's state folder. Nothing here may block: a pipe or a device at
// the path is refused with a reason, never opened for good.
class StateFile {
public:
    virtual ~StateFile() = default;
    // The full path, for messages and the folder to open.
    virtual std::string location() const = 0;
    // The whole file; refused when it is not a regular file or is larger
    // than maxBytes.
    virtual FileRead read(std::size_t maxBytes) = 0;
    // Adds text at the end, making the file and its folder when missing.
    virtual StoreResult append(const std::string& text) = 0;
    // Puts text in place of the whole file in one atomic step.
    virtual StoreResult replace(const std::string& text) = 0;
    // Shows the folder that holds the file in the desktop's file manager;
    // false when nothing could open it.
    virtual bool openFolder() = 0;
};

}  // namespace tempikon::platform
