#include "platform/qt/qt_clock.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/qt/qt_capability.h"

#ifdef _WIN32
#include <windows.h>

#include <QDateTime>
#else
#include <sys/time.h>
#include <time.h>

#include "platform/qt/qt_timedate_client.h"
#endif

namespace tempikon::qt {

namespace {
// Floor division, so that instants before the epoch split correctly.
std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}
}  // namespace

#ifdef _WIN32

// FILETIME counts 100 ns from 1601-01-01.
constexpr std::int64_t kEpochAsFileTime = 116'444'736'000'000'000LL;

std::int64_t systemNowMicros() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const std::int64_t ticks =
        (static_cast<std::int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return (ticks - kEpochAsFileTime) / 10;
}

int systemUtcOffsetSeconds(std::int64_t micros) {
    return QDateTime::fromMSecsSinceEpoch(floorDiv(micros, 1000)).offsetFromUtc();
}

platform::ClockResult setSystemMicros(std::int64_t micros) {
    const std::int64_t ticks = micros * 10 + kEpochAsFileTime;
    FILETIME ft{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME st;
    if (ticks < 0 || !FileTimeToSystemTime(&ft, &st)) return {false, "Invalid argument"};
    if (SetSystemTime(&st)) return {true, {}};
    const DWORD error = GetLastError();
    char text[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, text, sizeof text, nullptr);
    std::string reason(text, n);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.'))
        reason.pop_back();
    if (reason.empty()) reason = "Error " + std::to_string(error);
    return {false, reason};
}

platform::ClockResult slewSystemMicros(std::int64_t) {
    return {false, "Operation not supported"};
}

#else

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

platform::ClockResult slewSystemMicros(std::int64_t offsetMicros) {
    const std::int64_t seconds = floorDiv(offsetMicros, 1'000'000);
    const timeval delta{static_cast<time_t>(seconds),
                        static_cast<suseconds_t>(offsetMicros - seconds * 1'000'000)};
    const ClockRight right;
    if (adjtime(&delta, nullptr) != 0) return {false, std::strerror(errno)};
    return {true, {}};
}

#endif

std::string RefusedClockReason(const std::string& kernelReason, const std::string& serviceReason) {
#ifndef _WIN32
    // A service that is syncing on its own or did not answer says itself
    // what is wrong; a missing or refusing one leaves rights as the way out.
    if (serviceReason != kReasonNoService && serviceReason != kReasonNotAuthorised)
        return serviceReason;
#endif
    const std::string both = "kernel: " + kernelReason + "; time service: " + serviceReason;
    return "not permitted (run as root, give the program CAP_SYS_TIME, or use the system's "
           "time service; see man tempikon); " +
           both;
}

QtClock::QtClock() = default;
QtClock::~QtClock() = default;

#ifdef _WIN32

platform::ClockResult QtClock::setMicros(std::int64_t micros) {
    return setSystemMicros(micros);
}

bool QtClock::canSlew() const {
    return false;
}

platform::ClockResult QtClock::slewMicros(std::int64_t offsetMicros) {
    return slewSystemMicros(offsetMicros);
}

void QtClock::abandonWait() {}

#else

platform::ClockResult QtClock::setMicros(std::int64_t micros) {
    // The kernel's own answer decides who may set the clock (root, or
    // cap_sys_time given to the binary); only a refusal goes to the service.
    const platform::ClockResult direct = setSystemMicros(micros);
    if (direct.ok || direct.reason != std::strerror(EPERM)) return direct;
    kernelRefused_ = true;
    if (!service_) service_ = std::make_unique<TimedateClient>();
    const platform::ClockResult viaService = service_->setTime(micros);
    if (viaService.ok) return viaService;
    return {false, RefusedClockReason(direct.reason, viaService.reason)};
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

#endif

}  // namespace tempikon::qt
