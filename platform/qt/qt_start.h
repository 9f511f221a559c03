#pragma once

#include <memory>

#include "platform/platform.h"

namespace tempikon::qt {

struct QtStart {
    std::unique_ptr<platform::Platform> platform;
    // True when no display was found and the offscreen platform was chosen.
    bool noDisplay = false;
};

// Creates the application object and the platform on top of it. Call once,
// from main(), with main's own argc (Qt keeps a reference to it). A
// windowless run (one that never shows a window) starts no window system.
QtStart createPlatform(int& argc, char** argv, bool windowless = false);

}  // namespace tempikon::qt
