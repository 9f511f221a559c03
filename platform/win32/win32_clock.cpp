#include "platform/win32/win32_clock.h"

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

}  // namespace

platform::LocalDateTime Win32Clock::now() const {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

platform::ClockResult Win32Clock::setLocalTimeOfDay(int hour, int minute, int second) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return {false, systemMessage(ERROR_INVALID_PARAMETER)};
    enableSystemTimePrivilege();
    SYSTEMTIME t;
    GetLocalTime(&t);  // today's date stays
    t.wHour = static_cast<WORD>(hour);
    t.wMinute = static_cast<WORD>(minute);
    t.wSecond = static_cast<WORD>(second);
    t.wMilliseconds = 0;
    if (!SetLocalTime(&t)) return {false, systemMessage(GetLastError())};
    // SetLocalTime converts with the daylight-saving rule in force before the
    // change; the second call uses the rule of the new time.
    SetLocalTime(&t);
    return {true, {}};
}

}  // namespace tempikon::win32
