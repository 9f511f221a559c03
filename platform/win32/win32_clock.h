#pragma once

#include "platform/clock.h"

namespace tempikon::win32 {

// The system clock in UTC, which is native here; local times come from the
// time zone in force and its summer-time rule.
class Win32Clock : public platform::Clock {
public:
    std::int64_t nowMicros() const override;
    int utcOffsetSeconds(std::int64_t micros) const override;
    platform::ClockResult setMicros(std::int64_t micros) override;
};

}  // namespace tempikon::win32
