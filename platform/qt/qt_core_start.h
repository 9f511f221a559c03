#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace tempikon::qt {

struct QtStart {
    std::unique_ptr<platform::Platform> platform;
    // True when no display was found and the offscreen platform was chosen.
    bool noDisplay = false;
};

// What the application object is made from, once the process is made safe
// to start Qt in.
struct StartArguments {
    int* argc = nullptr;
    char** argv = nullptr;
    std::string commandLine;  // every argument, taken before Qt removes its own
    bool secure = false;      // a privileged copy started by another user
    bool noDisplay = false;   // no display: the offscreen platform was chosen
};

// Call once, from main(), with main's own argc (Qt keeps a reference to it).
// A privileged copy gets a cleaned environment and Qt sees no options; a
// run that is not windowless gets the offscreen platform when there is no
// display.
StartArguments PrepareStart(int& argc, char** argv, bool windowless);

// The platform for a run that never shows a window: Qt Core only, no window
// system, platform plugin or fonts.
QtStart createWindowlessPlatform(int& argc, char** argv);

}  // namespace tempikon::qt
