#pragma once

#include <string>

namespace tempikon::platform {

struct LocalDateTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

struct ClockResult {
    bool ok = false;
    // The system's reason when not ok, e.g. "Operation not permitted".
    std::string reason;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalDateTime now() const = 0;
    // Today's local date at the given local time of day.
    virtual ClockResult setLocalTimeOfDay(int hour, int minute, int second) = 0;
};

}  // namespace tempikon::platform
