#pragma once

#include <string>

#include "core/public_stuff.h"

namespace tempikon::hardening {

// The whole configuration a saver writes in its round: every field tells
// who wrote it and when, so that a mix of two saves shows.
inline core::ConfigRecord SampleConfig(const std::string& who, int round) {
    core::ConfigRecord c;
    c.Server = who + "-" + std::to_string(round) + ".example";
    c.Server2 = who + "-" + std::to_string(round) + "-backup.example";
    c.Offset = static_cast<float>(round % 47 - 23) / 2.0f;
    c.Offset2 = static_cast<float>(round % 13) / 4.0f;
    c.Timeout = 1 + round;
    c.Interval = 2 + round;
    return c;
}

}  // namespace tempikon::hardening
