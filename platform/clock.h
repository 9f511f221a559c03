#pragma once

#include <cstdint>
#include <string>

namespace tempikon::platform {

inline constexpr std::int64_t kMicrosPerSecond = 1'000'000;
inline constexpr std::int64_t kSecondsPerDay = 86'400;

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

// Days from 1970-01-01 for a proleptic Gregorian date, and back.
constexpr std::int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

constexpr void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

// The calendar reading of a count of microseconds since 1970-01-01 00:00
// in some zone (the zone's offset already added).
constexpr LocalDateTime CivilFromMicros(std::int64_t micros) {
    std::int64_t seconds = micros / kMicrosPerSecond;
    std::int64_t fraction = micros % kMicrosPerSecond;
    if (fraction < 0) {
        fraction += kMicrosPerSecond;
        --seconds;
    }
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    LocalDateTime t;
    CivilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    t.millisecond = static_cast<int>(fraction / 1000);
    return t;
}

// The system clock and the local time zone's rules. Instants are
// microseconds since 1970-01-01 00:00 UTC.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t nowMicros() const = 0;
    // Seconds the local time is ahead of UTC at the instant (summer time
    // included).
    virtual int utcOffsetSeconds(std::int64_t micros) const = 0;
    // Sets the clock to the instant; may handle window events meanwhile (a
    // password prompt of the system's time service).
    virtual ClockResult setMicros(std::int64_t micros) = 0;
    // Steps the clock by offsetMicros at once: a setting planned from an
    // earlier reading, which the clock has moved on from since. Whatever
    // passes before the change lands (the call itself, a password prompt)
    // is not lost. Where the system takes only an instant, the clock is
    // read again immediately before it is set.
    virtual ClockResult stepMicros(std::int64_t offsetMicros) {
        return setMicros(nowMicros() + offsetMicros);
    }
    // True when the clock can be moved gradually (slewed): the program sets
    // it itself. False where only a service that steps it can (the desktop
    // time service on Linux).
    virtual bool canSlew() const { return false; }
    // Moves the clock by offsetMicros gradually (the kernel's or the
    // system's own rate) and returns at once. What is left of a slew in
    // progress is dropped; a setting also ends it. When the system refuses,
    // the clock is untouched and canSlew() is false from then on.
    virtual ClockResult slewMicros(std::int64_t /*offsetMicros*/) {
        return {false, "Operation not supported"};
    }

    LocalDateTime localAt(std::int64_t micros) const {
        return CivilFromMicros(micros + utcOffsetSeconds(micros) * kMicrosPerSecond);
    }
    LocalDateTime now() const { return localAt(nowMicros()); }
};

}  // namespace tempikon::platform
