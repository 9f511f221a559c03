#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"

namespace tempikon::qt {

// The system clock, microseconds since the epoch (UTC).
std::int64_t systemNowMicros();
// The local zone's offset from UTC at the instant, from the system's zone
// rules (TZ or /etc/localtime).
int systemUtcOffsetSeconds(std::int64_t micros);
// Sets the system clock to the instant (clock_settime). Reports the
// system's reason when the clock was not set.
platform::ClockResult setSystemMicros(std::int64_t micros);
// Steps the system clock by the offset at once: clock_adjtime with
// ADJ_SETOFFSET, which the kernel adds to the clock as it stands; where the
// kernel refuses that form (before Linux 2.6.39, or a filter), the clock is
// read immediately before clock_settime.
platform::ClockResult stepSystemMicros(std::int64_t offsetMicros);
// Slews the system clock by the offset (adjtime, which the kernel runs at
// 500 us a second and which replaces a slew in progress).
platform::ClockResult slewSystemMicros(std::int64_t offsetMicros);

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
    std::int64_t nowMicros() const override { return systemNowMicros(); }
    int utcOffsetSeconds(std::int64_t micros) const override {
        return systemUtcOffsetSeconds(micros);
    }
    platform::ClockResult setMicros(std::int64_t micros) override;
    platform::ClockResult stepMicros(std::int64_t offsetMicros) override;
    // Only where the program sets the clock itself: the time service has no
    // slewing call.
    bool canSlew() const override;
    platform::ClockResult slewMicros(std::int64_t offsetMicros) override;
    // The program is ending: a setting that waits for the service gives up.
    void abandonWait();

private:
    // The kernel refused for lack of the right (direct): the time service
    // sets the clock, now and from then on.
    platform::ClockResult viaService(const platform::ClockResult& direct, std::int64_t usec,
                                     bool relative);

    bool kernelRefused_ = false;               // the kernel refused this process a change
    std::unique_ptr<TimedateClient> service_;  // made when first needed
};

}  // namespace tempikon::qt
