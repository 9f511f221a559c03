#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/geometry.h"
#include "platform/platform.h"

// Conversions at the boundary between the logic (UTF-8) and Windows (UTF-16),
// and other small pure helpers of the backend.
namespace tempikon::win32 {

// Invalid input never fails: bad sequences become U+FFFD.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

// The arguments of a command line as GetCommandLineW gives it: everything
// after the program's name (quoted or not) and the blanks that follow it.
std::wstring argumentsAfterProgramName(std::wstring_view commandLine);

// Twips (1/1440 inch) to pixels at dpi, rounded to the nearest pixel.
int twipsToPixels(int twips, int dpi);

// A 0x00BBGGRR value as a COLORREF; a value with the top bit set names a
// system colour by index, resolved through sysColour(index).
std::uint32_t resolveColour(platform::Colour colour, std::uint32_t (*sysColour)(int index));

// Faces of fixed-pitch fonts the program asks for: where such a face is
// missing, the font mapper must still choose a fixed-pitch one, or columns
// of text no longer line up.
bool isFixedPitchFace(std::string_view face);

// A system message without its trailing line break and full stop blanks.
std::string tidyMessage(std::wstring_view message);

// The text of a system error number (GetLastError, WSAGetLastError).
std::string systemMessage(unsigned long error);

// The file version's major, minor and revision (the fourth number) out of
// the two DWORDs of a VS_FIXEDFILEINFO.
platform::Version versionFromFixedInfo(std::uint32_t versionMs, std::uint32_t versionLs);

// Headless runs: message boxes write to standard error and answer at once.
// flags as for MessageBoxW; returns the answer the box gives.
int headlessAnswer(int flags);

}  // namespace tempikon::win32
