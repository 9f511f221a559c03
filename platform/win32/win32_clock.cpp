#include "platform/win32/win32_clock.h"

#include <cstdint>

#include "platform/win32/win32_common.h"
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

}  // namespace

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
    // Before 1970, or beyond what 100 ns ticks hold.
    if (micros < 0 || micros > (INT64_MAX - kEpochAsFileTime) / 10)
        return {false, systemMessage(ERROR_INVALID_PARAMETER)};
    SYSTEMTIME t;
    FILETIME ft = fileTimeOf(micros);
    if (!FileTimeToSystemTime(&ft, &t)) return {false, systemMessage(ERROR_INVALID_PARAMETER)};
    enableSystemTimePrivilege();
    if (!SetSystemTime(&t)) return {false, systemMessage(GetLastError())};
    return {true, {}};
}

}  // namespace tempikon::win32
