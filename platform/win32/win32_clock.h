#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/clock.h"
#include "platform/timer.h"

namespace tempikon::win32 {

class Win32Platform;

// The calls that change the clock's rate, for a slew. Tests put recording
// ones in place of the system's.
struct RateCalls {
    // The clock's advance per period at its normal rate (100 ns units of the
    // call in use); 0 when the system does not say.
    std::function<std::uint64_t()> normalAdvance;
    // From now on the clock advances this much per period; 0: back to the
    // system's own rate. Returns 0 or the system's error code.
    std::function<unsigned long(std::uint64_t advance)> setAdvance;
};

// SetSystemTimeAdjustmentPrecise where the system has it (Windows 10 and
// later), else SetSystemTimeAdjustment.
RateCalls SystemRateCalls();

// The system clock in UTC, which is native here; local times come from the
// time zone in force and its summer-time rule. A slew runs the clock 500 us
// a second fast or slow, as Linux does, until a timer on the window thread
// puts the rate back.
class Win32Clock : public platform::Clock {
public:
    explicit Win32Clock(Win32Platform& platform, RateCalls calls = SystemRateCalls());
    ~Win32Clock() override;
    Win32Clock(const Win32Clock&) = delete;
    Win32Clock& operator=(const Win32Clock&) = delete;

    std::int64_t nowMicros() const override;
    int utcOffsetSeconds(std::int64_t micros) const override;
    platform::ClockResult setMicros(std::int64_t micros) override;
    platform::ClockResult stepMicros(std::int64_t offsetMicros) override;
    bool canSlew() const override { return !refused_; }
    platform::ClockResult slewMicros(std::int64_t offsetMicros) override;

private:
    void endSlew();
    // Ends a slew, then sets the clock to what instant() gives at once.
    platform::ClockResult setAt(const std::function<std::int64_t()>& instant);

    Win32Platform& platform_;
    RateCalls calls_;
    std::unique_ptr<platform::Timer> slewEnd_;  // running while a slew is
    bool refused_ = false;
};

}  // namespace tempikon::win32
