#pragma once

#include <string>

#include "core/config.h"

namespace tempikon::hardening {

// The whole configuration a saver writes in its round: every field tells
// who wrote it and when, so that a mix of two saves shows.
inline core::Config SampleConfig(const std::string& who, int round) {
    core::Config c;
    c.primary().host = who + "-" + std::to_string(round) + ".example";
    c.backup().host = who + "-" + std::to_string(round) + "-backup.example";
    c.primary().offsetHours = static_cast<float>(round % 47 - 23) / 2.0f;
    c.backup().offsetHours = static_cast<float>(round % 13) / 4.0f;
    c.timeout = 1 + round;
    c.interval = 2 + round;
    return c;
}

}  // namespace tempikon::hardening
