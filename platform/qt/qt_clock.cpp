#include "platform/qt/qt_clock.h"

#include <cerrno>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>

#include "platform/qt/qt_timedate_client.h"
#endif

namespace tempikon::qt {

namespace {
bool validTimeOfDay(int hour, int minute, int second) {
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}
}  // namespace

#ifdef _WIN32

platform::LocalDateTime systemLocalNow() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

platform::ClockResult setSystemLocalTimeOfDay(int hour, int minute, int second) {
    if (!validTimeOfDay(hour, minute, second)) return {false, "Invalid argument"};
    SYSTEMTIME st;
    GetLocalTime(&st);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    st.wMilliseconds = 0;
    if (SetLocalTime(&st)) return {true, {}};
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

#else

platform::LocalDateTime systemLocalNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return {local.tm_year + 1900,
            local.tm_mon + 1,
            local.tm_mday,
            local.tm_hour,
            local.tm_min,
            local.tm_sec,
            static_cast<int>(ts.tv_nsec / 1'000'000)};
}

platform::ClockResult setSystemLocalTimeOfDay(int hour, int minute, int second) {
    if (!validTimeOfDay(hour, minute, second)) return {false, std::strerror(EINVAL)};
    const time_t nowSeconds = time(nullptr);
    tm local{};
    if (!localtime_r(&nowSeconds, &local)) return {false, std::strerror(errno)};
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    // Let mktime decide whether daylight saving time applies at the new time,
    // so that the days on which it starts or ends come out right.
    local.tm_isdst = -1;
    errno = 0;
    const time_t target = mktime(&local);
    if (target == static_cast<time_t>(-1) && errno != 0) return {false, std::strerror(errno)};
    const timespec ts{target, 0};
    if (clock_settime(CLOCK_REALTIME, &ts) != 0) return {false, std::strerror(errno)};
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

platform::ClockResult QtClock::setLocalTimeOfDay(int hour, int minute, int second) {
    return setSystemLocalTimeOfDay(hour, minute, second);
}

void QtClock::abandonWait() {}

#else

platform::ClockResult QtClock::setLocalTimeOfDay(int hour, int minute, int second) {
    // The kernel's own answer decides who may set the clock (root, or
    // cap_sys_time given to the binary); only a refusal goes to the service.
    const platform::ClockResult direct = setSystemLocalTimeOfDay(hour, minute, second);
    if (direct.ok || direct.reason != std::strerror(EPERM)) return direct;
    const std::optional<std::int64_t> usec = TodayAtLocalTimeUsec(hour, minute, second);
    if (!usec) return {false, std::strerror(EINVAL)};
    if (!service_) service_ = std::make_unique<TimedateClient>();
    const platform::ClockResult viaService = service_->setTime(*usec);
    if (viaService.ok) return viaService;
    return {false, RefusedClockReason(direct.reason, viaService.reason)};
}

void QtClock::abandonWait() {
    if (service_) service_->abandon();
}

#endif

}  // namespace tempikon::qt
