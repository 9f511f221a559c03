#pragma once

#include <memory>

#include "platform/platform.h"

namespace tempikon::win32 {

struct Win32Start {
    std::unique_ptr<platform::Platform> platform;
    // True when the process has no visible desktop (a service or a task that
    // runs whether the user is logged on or not): nothing can be shown.
    bool noDisplay = false;
};

// Creates the platform on the Win32 API. Call once, from main(), on the
// thread that will run the windows. argc and argv are not used: the command
// line is read as UTF-16 from the system.
Win32Start createPlatform(int& argc, char** argv);

// A windows program started from a console without redirection has no
// standard handles, so its output would vanish: this attaches it to the
// parent's console and points the standard handles and the C runtime's
// stdout and stderr there. Does nothing when there is a standard output or
// after its first call.
void AttachParentConsoleIfNoOutput();

}  // namespace tempikon::win32
