#include "platform/win32/win32_start.h"

#include <string_view>

#include "platform/win32/win32_common.h"
#include "platform/win32/win32_platform.h"

namespace tempikon::win32 {

namespace {

bool environmentSays(const wchar_t* name, const wchar_t* value) {
    wchar_t buffer[16] = {};
    const DWORD n = GetEnvironmentVariableW(name, buffer, 16);
    return n > 0 && n < 16 && std::wstring_view(buffer) == value;
}

// A service, or a task that runs whether the user is logged on or not, has
// a window station that nobody sees.
bool desktopVisible() {
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags{};
    if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr))
        return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

Win32Start createPlatform(int&, char**) {
    const bool visible = desktopVisible();
    const bool headless = !visible || environmentSays(L"TEMPIKON_HEADLESS", L"1");
    Win32Start start;
    start.platform = std::make_unique<Win32Platform>(GetModuleHandleW(nullptr), headless);
    start.noDisplay = !visible;
    return start;
}

}  // namespace tempikon::win32
