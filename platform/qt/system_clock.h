#pragma once

#include "platform/clock.h"

namespace tempikon::qt {

// The local date and time of the system clock.
platform::LocalDateTime systemLocalNow();

// Sets the system clock to today's local date at the given local time of day
// (Linux: clock_settime; Windows: SetLocalTime). Reports the system's reason
// when the clock was not set.
platform::ClockResult setSystemLocalTimeOfDay(int hour, int minute, int second);

class SystemClock : public platform::Clock {
public:
    platform::LocalDateTime now() const override { return systemLocalNow(); }
    platform::ClockResult setLocalTimeOfDay(int hour, int minute, int second) override {
        return setSystemLocalTimeOfDay(hour, minute, second);
    }
};

}  // namespace tempikon::qt
