#include "platform/qt/qt_clock.h"

#include <sys/time.h>
#include <sys/timex.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/qt/qt_capability.h"
#include "platform/qt/qt_timedate_client.h"

namespace tempikon::qt {

namespace {
// Floor division, so that instants before the epoch split correctly.
std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}
}  // namespace

std::int64_t systemNowMicros() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

int systemUtcOffsetSeconds(std::int64_t micros) {
    const time_t seconds = static_cast<time_t>(floorDiv(micros, 1'000'000));
    tm local{};
    if (!localtime_r(&seconds, &local)) return 0;
    return static_cast<int>(local.tm_gmtoff);
}

platform::ClockResult setSystemMicros(std::int64_t micros) {
    const timespec ts{static_cast<time_t>(floorDiv(micros, 1'000'000)),
                      static_cast<long>((micros - floorDiv(micros, 1'000'000) * 1'000'000) * 1000)};
    if (ts.tv_sec < 0) return {false, std::strerror(EINVAL)};
    // The right is effective only for this one call.
    const ClockRight right;
    if (clock_settime(CLOCK_REALTIME, &ts) != 0) return {false, std::strerror(errno)};
    return {true, {}};
}

platform::ClockResult stepSystemMicros(std::int64_t offsetMicros) {
    const std::int64_t seconds = floorDiv(offsetMicros, 1'000'000);
    timex shift{};
    shift.modes = ADJ_SETOFFSET | ADJ_NANO;
    shift.time.tv_sec = static_cast<time_t>(seconds);
    // Nanoseconds with ADJ_NANO, never negative: the seconds carry the sign.
    shift.time.tv_usec = static_cast<suseconds_t>((offsetMicros - seconds * 1'000'000) * 1000);
    int error = 0;
    {
        const ClockRight right;
        if (clock_adjtime(CLOCK_REALTIME, &shift) == -1) error = errno;
    }
    if (error == 0) return {true, {}};
    // Without the right the absolute call is refused alike; any other
    // refusal is of this form of the call.
    if (error == EPERM) return {false, std::strerror(EPERM)};
    return setSystemMicros(systemNowMicros() + offsetMicros);
}

platform::ClockResult slewSystemMicros(std::int64_t offsetMicros) {
    const std::int64_t seconds = floorDiv(offsetMicros, 1'000'000);
    const timeval delta{static_cast<time_t>(seconds),
                        static_cast<suseconds_t>(offsetMicros - seconds * 1'000'000)};
    const ClockRight right;
    if (adjtime(&delta, nullptr) != 0) return {false, std::strerror(errno)};
    return {true, {}};
}

std::string RefusedClockReason(const std::string& kernelReason, const std::string& serviceReason) {
    // A service that is syncing on its own or did not answer says itself
    // what is wrong; a missing or refusing one leaves rights as the way out.
    if (serviceReason != kReasonNoService && serviceReason != kReasonNotAuthorised)
        return serviceReason;
    const std::string both = "kernel: " + kernelReason + "; time service: " + serviceReason;
    return "not permitted (run as root, give the program CAP_SYS_TIME, or use the system's "
           "time service; see man tempikon); " +
           both;
}

QtClock::QtClock() = default;
QtClock::~QtClock() = default;

platform::ClockResult QtClock::setMicros(std::int64_t micros) {
    // The kernel's own answer decides who may set the clock (root, or
    // cap_sys_time given to the binary); only a refusal goes to the service.
    const platform::ClockResult direct = setSystemMicros(micros);
    if (direct.ok || direct.reason != std::strerror(EPERM)) return direct;
    return viaService(direct, micros, false);
}

platform::ClockResult QtClock::stepMicros(std::int64_t offsetMicros) {
    const platform::ClockResult direct = stepSystemMicros(offsetMicros);
    if (direct.ok || direct.reason != std::strerror(EPERM)) return direct;
    // The service adds the offset when it acts, after any password prompt.
    return viaService(direct, offsetMicros, true);
}

platform::ClockResult QtClock::viaService(const platform::ClockResult& direct, std::int64_t usec,
                                          bool relative) {
    kernelRefused_ = true;
    if (!service_) service_ = std::make_unique<TimedateClient>();
    const platform::ClockResult result = service_->setTime(usec, relative);
    if (result.ok) return result;
    return {false, RefusedClockReason(direct.reason, result.reason)};
}

bool QtClock::canSlew() const {
    // The kernel's own answer decides, as for a setting: once it refuses,
    // settings go to the time service, which only steps.
    return !kernelRefused_;
}

platform::ClockResult QtClock::slewMicros(std::int64_t offsetMicros) {
    const platform::ClockResult result = slewSystemMicros(offsetMicros);
    if (!result.ok && result.reason == std::strerror(EPERM)) kernelRefused_ = true;
    return result;
}

void QtClock::abandonWait() {
    if (service_) service_->abandon();
}

}  // namespace tempikon::qt
