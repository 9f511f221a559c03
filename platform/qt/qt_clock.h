#pragma once

#include <memory>
#include <string>

#include "platform/clock.h"

namespace tempikon::qt {

// The local date and time of the system clock.
platform::LocalDateTime systemLocalNow();

// Sets the system clock to today's local date at the given local time of day
// (Linux: clock_settime; Windows: SetLocalTime). Reports the system's reason
// when the clock was not set.
platform::ClockResult setSystemLocalTimeOfDay(int hour, int minute, int second);

// The reason given when the kernel refused and the time service refused too:
// both reasons, and what the user can do when it is a matter of rights.
std::string RefusedClockReason(const std::string& kernelReason, const std::string& serviceReason);

class TimedateClient;

// The program's clock. It sets the clock itself when the system lets it; on
// Linux a user without that right is served by the system's time service
// instead, which asks for an administrator's password (window events keep
// flowing while it asks).
class QtClock : public platform::Clock {
public:
    QtClock();
    ~QtClock() override;
    platform::LocalDateTime now() const override { return systemLocalNow(); }
    platform::ClockResult setLocalTimeOfDay(int hour, int minute, int second) override;
    // The program is ending: a setting that waits for the service gives up.
    void abandonWait();

private:
#ifndef _WIN32
    std::unique_ptr<TimedateClient> service_;  // made when first needed
#endif
};

}  // namespace tempikon::qt
