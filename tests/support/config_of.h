#pragma once

// A configuration written the way the settings list it: hosts, offsets,
// time-out, interval and zones, primary then backup.

#include <cstdint>
#include <string>

#include "core/config.h"

namespace tempikon::testsupport {

inline core::Config ConfigOf(const std::string& server, const std::string& server2, float offset,
                             float offset2, std::int32_t timeout, std::int32_t interval,
                             const std::string& zone = {}, const std::string& zone2 = {}) {
    core::Config config;
    config.primary().host = server;
    config.backup().host = server2;
    config.primary().offsetHours = offset;
    config.backup().offsetHours = offset2;
    config.timeout = timeout;
    config.interval = interval;
    config.primary().setZone(zone);
    config.backup().setZone(zone2);
    return config;
}

}  // namespace tempikon::testsupport
