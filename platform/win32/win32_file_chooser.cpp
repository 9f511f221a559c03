#include "platform/win32/win32_file_chooser.h"

#include <commdlg.h>

#include "platform/win32/win32_text.h"

namespace tempikon::win32 {

std::optional<std::string> chooseFile(const platform::FileChoice& choice, HWND owner) {
    // Pairs of a name and its patterns, each ended by a NUL; a second NUL
    // ends the list.
    std::wstring filter;
    const auto add = [&filter](const std::string& name, const std::string& patterns) {
        filter += widen(name + " (" + patterns + ")");
        filter.push_back(L'\0');
        filter += widen(patterns);
        filter.push_back(L'\0');
    };
    std::string patterns;
    for (const std::string& pattern : choice.patterns) {
        if (!patterns.empty()) patterns += ';';
        patterns += pattern;
    }
    if (!patterns.empty()) add(choice.filterName, patterns);
    add("All files", "*.*");

    // Room for long paths; the file chosen so far opens its folder.
    std::wstring file(32768, L'\0');
    const std::wstring current = widen(choice.current);
    if (current.size() < file.size()) file.replace(0, current.size(), current);
    const std::wstring title = widen(choice.title);

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();
    // The program's working folder stays where it was.
    dialog.Flags =
        OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&dialog)) return std::nullopt;
    return narrow(file.c_str());
}

}  // namespace tempikon::win32
