#include "platform/win32/win32_text.h"

#include "platform/win32/win32_common.h"

namespace tempikon::win32 {

std::wstring widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), n);
    return out;
}

std::string narrow(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int size = static_cast<int>(utf16.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring argumentsAfterProgramName(std::wstring_view line) {
    std::size_t i = 0;
    // The program's name follows simpler rules than the arguments: a quoted
    // name ends at the next quote, an unquoted one at the first blank.
    if (!line.empty() && line[0] == L'"') {
        const std::size_t close = line.find(L'"', 1);
        i = close == std::wstring_view::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && line[i] != L' ' && line[i] != L'\t') ++i;
    }
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    return std::wstring(line.substr(i));
}

int twipsToPixels(int twips, int dpi) {
    return MulDiv(twips, dpi, 1440);
}

std::uint32_t resolveColour(platform::Colour colour, std::uint32_t (*sysColour)(int index)) {
    if (colour & platform::kSystemColourFlag) return sysColour(static_cast<int>(colour & 0xFFu));
    return colour & 0x00FFFFFFu;
}

bool isFixedPitchFace(std::string_view face) {
    std::string lower;
    for (const char c : face) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const char* known : {"courier", "consolas", "lucida console", "mono", "fixedsys"})
        if (lower.find(known) != std::string::npos) return true;
    return false;
}

std::string tidyMessage(std::wstring_view message) {
    std::string text = narrow(message);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::string systemMessage(unsigned long error) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (n && buffer) text = tidyMessage(std::wstring_view(buffer, n));
    if (buffer) LocalFree(buffer);
    if (text.empty()) text = "Error " + std::to_string(error);
    return text;
}

platform::Version versionFromFixedInfo(std::uint32_t versionMs, std::uint32_t versionLs) {
    return {static_cast<int>(versionMs >> 16), static_cast<int>(versionMs & 0xFFFFu),
            static_cast<int>(versionLs & 0xFFFFu)};
}

int headlessAnswer(int flags) {
    return (flags & 0x0F) == MB_YESNO ? IDNO : IDOK;
}

}  // namespace tempikon::win32
