#pragma once

#include "platform/qt/qt_core_start.h"

namespace tempikon::qt {

// Creates the application object and the platform on top of it. Call once,
// from main(), with main's own argc (Qt keeps a reference to it). A run that
// never shows a window uses createWindowlessPlatform instead.
QtStart createPlatform(int& argc, char** argv);

}  // namespace tempikon::qt
