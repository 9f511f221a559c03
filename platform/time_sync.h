#pragma once

#include <string>

#include "platform/clock.h"

namespace tempikon::platform {

// What the system does about the clock by itself: the desktop's "set time
// automatically" switch (systemd's time service on Linux) and time daemons
// that keep the clock.
struct TimeSyncState {
    // The time service answered; false leaves `on` and `canChange` unknown.
    bool known = false;
    // The system's automatic time is on: the service refuses other settings.
    bool on = false;
    // The service can switch it (a synchronisation service is installed).
    bool canChange = false;
    // A time daemon that sets this clock runs ("chronyd", "ntpd"); empty
    // when none does.
    std::string daemon;

    // Someone besides this program sets the clock.
    bool othersSetClock() const { return (known && on) || !daemon.empty(); }
};

class TimeSync {
public:
    virtual ~TimeSync() = default;
    // Asked afresh each time: the user may switch it elsewhere.
    virtual TimeSyncState state() = 0;
    // Switches the system's automatic time; the desktop may ask for a
    // password meanwhile (window events keep flowing). Never called unless
    // the user asked for exactly this.
    virtual ClockResult setAutomatic(bool on) = 0;
};

}  // namespace tempikon::platform
