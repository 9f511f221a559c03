#pragma once

#include "platform/qt/qt_core_start.h"

namespace tempikon::qt {

// Creates the application object and the platform on top of it. Call once,
// from main(), with main's own argc (Qt keeps a reference to it). A
// windowless run (one that never shows a window) starts no window system.
QtStart createPlatform(int& argc, char** argv, bool windowless = false);

}  // namespace tempikon::qt
