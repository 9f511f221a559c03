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
// from main(), with main's own argc (Qt keeps a reference to it).
QtStart createPlatform(int& argc, char** argv);

}  // namespace tempikon::qt
