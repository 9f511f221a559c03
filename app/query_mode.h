#pragma once

#include "platform/platform.h"

namespace tempikon::app {

// /QUERY: asks the primary and, when it gives no time, the backup, as a
// setting would; prints a line for each server asked and never sets the
// clock. Needs no window. Returns the exit status: 0 a server gave a valid
// time, 1 none did, 2 not configured or the settings cannot be read.
int RunQueryMode(platform::Platform& platform);

}  // namespace tempikon::app
