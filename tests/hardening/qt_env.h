#pragma once

#include "platform/platform.h"

namespace tempikon::hardening {

// The one Qt platform of the test process (offscreen).
platform::Platform& qtPlatform();

}  // namespace tempikon::hardening
