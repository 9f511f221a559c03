#include "platform/win32/win32_clock.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "platform/win32/win32_common.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_text.h"

namespace tempikon::win32 {

namespace {

// Setting the clock needs SeSystemtimePrivilege enabled in the token; it is
// held (disabled) by administrators. Failing here is not final: SetLocalTime
// then fails with the reason the user should see.
void enableSystemTimePrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, SE_SYSTEMTIME_NAME, &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

// FILETIME counts 100 ns from 1601-01-01.
constexpr std::int64_t kEpochAsFileTime = 116'444'736'000'000'000LL;

std::int64_t fileTimeTicks(const FILETIME& ft) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
                                     ft.dwLowDateTime);
}

FILETIME fileTimeOf(std::int64_t micros) {
    const auto ticks = static_cast<std::uint64_t>(micros * 10 + kEpochAsFileTime);
    return {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// A slew's rate, as the Linux kernel's: 500 us a second.
constexpr std::uint64_t kSlewPartsPerMillion = 500;

using GetPrecise = BOOL(WINAPI*)(PDWORD64, PDWORD64, PBOOL);
using SetPrecise = BOOL(WINAPI*)(DWORD64, BOOL);

template <typename F>
F kernelFunction(const char* name) {
    const FARPROC p = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
    F f = nullptr;
    static_assert(sizeof f == sizeof p);
    std::memcpy(&f, &p, sizeof f);
    return f;
}

}  // namespace

RateCalls SystemRateCalls() {
    const auto getPrecise = kernelFunction<GetPrecise>("GetSystemTimeAdjustmentPrecise");
    const auto setPrecise = kernelFunction<SetPrecise>("SetSystemTimeAdjustmentPrecise");
    if (getPrecise && setPrecise) {
        return {[getPrecise]() -> std::uint64_t {
                    DWORD64 adjustment = 0;
                    DWORD64 increment = 0;
                    BOOL disabled = TRUE;
                    return getPrecise(&adjustment, &increment, &disabled) ? increment : 0;
                },
                [setPrecise](std::uint64_t advance) -> unsigned long {
                    return setPrecise(advance, advance == 0) ? 0 : GetLastError();
                }};
    }
    return {[]() -> std::uint64_t {
                DWORD adjustment = 0;
                DWORD increment = 0;
                BOOL disabled = TRUE;
                return GetSystemTimeAdjustment(&adjustment, &increment, &disabled) ? increment : 0;
            },
            [](std::uint64_t advance) -> unsigned long {
                if (advance > MAXDWORD) return ERROR_INVALID_PARAMETER;
                return SetSystemTimeAdjustment(static_cast<DWORD>(advance), advance == 0)
                           ? 0
                           : GetLastError();
            }};
}

Win32Clock::Win32Clock(Win32Platform& platform, RateCalls calls)
    : platform_(platform), calls_(std::move(calls)) {}

Win32Clock::~Win32Clock() {
    // A slew cut short keeps what it has done; the rate must not stay off.
    if (slewEnd_) endSlew();
}

std::int64_t Win32Clock::nowMicros() const {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);  // the precise one needs Windows 8
    return (fileTimeTicks(ft) - kEpochAsFileTime) / 10;
}

int Win32Clock::utcOffsetSeconds(std::int64_t micros) const {
    SYSTEMTIME utc;
    SYSTEMTIME local;
    FILETIME ft = fileTimeOf(micros);
    // The zone in force, with its summer-time rule for the instant's date.
    if (!FileTimeToSystemTime(&ft, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return 0;
    FILETIME localFt;
    FILETIME utcFt;
    // Both readings keep the same milliseconds, so the difference is exact.
    if (!SystemTimeToFileTime(&local, &localFt) || !SystemTimeToFileTime(&utc, &utcFt)) return 0;
    return static_cast<int>((fileTimeTicks(localFt) - fileTimeTicks(utcFt)) / 10'000'000);
}

platform::ClockResult Win32Clock::setMicros(std::int64_t micros) {
    return setAt([micros] { return micros; });
}

platform::ClockResult Win32Clock::stepMicros(std::int64_t offsetMicros) {
    // SetSystemTime takes only an instant: the clock is read immediately
    // before it, so that nothing since the plan is lost.
    return setAt([this, offsetMicros] { return nowMicros() + offsetMicros; });
}

platform::ClockResult Win32Clock::setAt(const std::function<std::int64_t()>& instant) {
    enableSystemTimePrivilege();
    // A step ends a slew, as on Linux.
    if (slewEnd_) endSlew();
    const std::int64_t micros = instant();
    // Before 1970, or beyond what 100 ns ticks hold.
    if (micros < 0 || micros > (INT64_MAX - kEpochAsFileTime) / 10)
        return {false, systemMessage(ERROR_INVALID_PARAMETER)};
    SYSTEMTIME t;
    FILETIME ft = fileTimeOf(micros);
    if (!FileTimeToSystemTime(&ft, &t)) return {false, systemMessage(ERROR_INVALID_PARAMETER)};
    if (!SetSystemTime(&t)) return {false, systemMessage(GetLastError())};
    return {true, {}};
}

platform::ClockResult Win32Clock::slewMicros(std::int64_t offsetMicros) {
    if (offsetMicros == 0) {
        if (slewEnd_) endSlew();
        return {true, {}};
    }
    const std::uint64_t normal = calls_.normalAdvance();
    if (normal == 0) {
        refused_ = true;
        return {false, systemMessage(ERROR_NOT_SUPPORTED)};
    }
    const std::uint64_t change =
        std::max<std::uint64_t>(1, (normal * kSlewPartsPerMillion + 500'000) / 1'000'000);
    const std::uint64_t magnitude = offsetMicros < 0 ? 0 - static_cast<std::uint64_t>(offsetMicros)
                                                     : static_cast<std::uint64_t>(offsetMicros);
    if (change >= normal || magnitude > UINT64_MAX / normal)
        return {false, systemMessage(ERROR_INVALID_PARAMETER)};
    // The time the slew needs at the rate the rounded change gives.
    const std::uint64_t millis = (magnitude * normal / change + 999) / 1000;
    if (millis > INT_MAX) return {false, systemMessage(ERROR_INVALID_PARAMETER)};
    enableSystemTimePrivilege();
    const unsigned long error =
        calls_.setAdvance(offsetMicros > 0 ? normal + change : normal - change);
    if (error != 0) {
        refused_ = true;
        return {false, systemMessage(error)};
    }
    // Re-armed for the new slew: what was left of the one before is dropped.
    slewEnd_ = platform_.createTimer();
    // The timer may be destroyed from its own handler.
    slewEnd_->onTimer = [this] { endSlew(); };
    slewEnd_->setInterval(static_cast<int>(std::max<std::uint64_t>(1, millis)));
    return {true, {}};
}

void Win32Clock::endSlew() {
    slewEnd_.reset();
    calls_.setAdvance(0);
}

}  // namespace tempikon::win32
