#pragma once

namespace tempikon::platform {

// Platform::messageBox()'s flags and answers. They keep the numbers the
// settings and tests of the Windows program have always used, so that the
// Win32 backend hands them to the system unchanged; the other backends map
// them to their own buttons and icons.
inline constexpr int kMbOk = 0;
inline constexpr int kMbYesNo = 4;
inline constexpr int kMbIconExclamation = 48;
inline constexpr int kMbIconInformation = 64;
// The second button (No) is the default.
inline constexpr int kMbDefaultButton2 = 256;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

}  // namespace tempikon::platform
