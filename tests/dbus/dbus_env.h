#pragma once

#include "platform/platform.h"

namespace tempikon::dbustest {

// The program's Qt platform, created once by the test entry.
platform::Platform& platform();

}  // namespace tempikon::dbustest
