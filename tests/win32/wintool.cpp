// Drives the windows of another program for the tests and screenshots under
// Wine: finds a window by caption, reads its controls, clicks menu entries
// and buttons, sets texts, and closes it. One command per run:
//   wintool wait <caption> [ms]       waits until the window is shown
//   wintool gone <caption> [ms]       waits until no such window is shown
//   wintool rect <caption>            x y width height of the whole window
//   wintool texts <caption>           class<TAB>text of each control, in order
//   wintool items <caption>           the list box entries, one a line
//   wintool menu <caption> <letter>   chooses the menu bar entry by its "&" letter
//   wintool settext <caption> <n> <text>   sets the text of the n-th edit field
//   wintool select <caption> <n>      selects list entry n as a click would
//   wintool click <caption> <button>  presses the button with that caption
//   wintool close <caption>           asks the window to close (close box)
//   wintool windows -                 the captions of all shown windows
// Exit status 0 on success, 1 when the window or control is not found.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring textOf(HWND hwnd) {
    wchar_t buffer[4096] = {};
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer),
                        SMTO_BLOCK | SMTO_ABORTIFHUNG, 5000, nullptr);
    return buffer;
}

// A caption without sending a message: a window that does not answer (a
// program stopped in a debugger, say) cannot hold up the search.
std::wstring captionOf(HWND hwnd) {
    wchar_t buffer[512] = {};
    GetWindowTextW(hwnd, buffer, 512);
    return buffer;
}

std::wstring classOf(HWND hwnd) {
    wchar_t buffer[256] = {};
    GetClassNameW(hwnd, buffer, 256);
    return buffer;
}

HWND findShown(const std::wstring& caption) {
    struct Search {
        const std::wstring* caption;
        HWND found;
    } search{&caption, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM lParam) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lParam);
            if (IsWindowVisible(hwnd) && captionOf(hwnd) == *s->caption) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> children(HWND parent) {
    std::vector<HWND> list;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        list.push_back(child);
    return list;
}

std::vector<HWND> childrenOfClass(HWND parent, const std::wstring& cls) {
    std::vector<HWND> list;
    for (HWND child : children(parent))
        if (_wcsicmp(classOf(child).c_str(), cls.c_str()) == 0) list.push_back(child);
    return list;
}

void print(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fputc('\n', stdout);
}

HWND waitFor(const std::wstring& caption, int ms) {
    for (int waited = 0;; waited += 100) {
        if (HWND hwnd = findShown(caption)) return hwnd;
        if (waited >= ms) return nullptr;
        Sleep(100);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: wintool command caption [arguments]\n", stderr);
        return 2;
    }
    const std::wstring command = argv[1];
    const std::wstring caption = argv[2];
    const int ms = argc > 3 ? _wtoi(argv[3]) : 0;

    if (command == L"windows") {
        EnumWindows(
            [](HWND hwnd, LPARAM) -> BOOL {
                if (IsWindowVisible(hwnd)) print(classOf(hwnd) + L"\t" + captionOf(hwnd));
                return TRUE;
            },
            0);
        return 0;
    }
    if (command == L"wait") return waitFor(caption, ms > 0 ? ms : 20000) ? 0 : 1;
    if (command == L"gone") {
        for (int waited = 0; findShown(caption); waited += 100) {
            if (waited >= (ms > 0 ? ms : 20000)) return 1;
            Sleep(100);
        }
        return 0;
    }

    HWND window = waitFor(caption, 5000);
    if (!window) {
        std::fputs("window not found\n", stderr);
        return 1;
    }
    if (command == L"rect") {
        RECT r;
        GetWindowRect(window, &r);
        std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        return 0;
    }
    if (command == L"texts") {
        for (HWND child : children(window)) print(classOf(child) + L"\t" + textOf(child));
        return 0;
    }
    if (command == L"items") {
        auto lists = childrenOfClass(window, L"ListBox");
        if (lists.empty()) return 1;
        const LRESULT count = SendMessageW(lists[0], LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t buffer[1024] = {};
            SendMessageW(lists[0], LB_GETTEXT, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(buffer));
            print(buffer);
        }
        return 0;
    }
    if (command == L"menu" && argc > 3) {
        // The keyboard's road (Alt and the letter): menus of another process
        // cannot be read from here, and the mnemonic is what is under test.
        PostMessageW(window, WM_SYSCOMMAND, SC_KEYMENU, static_cast<LPARAM>(argv[3][0]));
        return 0;
    }
    if (command == L"settext" && argc > 4) {
        auto edits = childrenOfClass(window, L"Edit");
        const int n = _wtoi(argv[3]);
        if (n < 0 || n >= static_cast<int>(edits.size())) return 1;
        SendMessageTimeoutW(edits[static_cast<std::size_t>(n)], WM_SETTEXT, 0,
                            reinterpret_cast<LPARAM>(argv[4]), SMTO_BLOCK, 5000, nullptr);
        return 0;
    }
    if (command == L"select" && argc > 3) {
        auto lists = childrenOfClass(window, L"ListBox");
        if (lists.empty()) return 1;
        const int n = _wtoi(argv[3]);
        SendMessageW(lists[0], LB_SETCURSEL, static_cast<WPARAM>(n), 0);
        // LB_SETCURSEL is silent; the owner hears of a click by LBN_SELCHANGE.
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(lists[0]), LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(lists[0]));
        return 0;
    }
    if (command == L"click" && argc > 3) {
        for (HWND button : childrenOfClass(window, L"Button")) {
            if (textOf(button) == argv[3]) {
                PostMessageW(button, BM_CLICK, 0, 0);
                return 0;
            }
        }
        return 1;
    }
    if (command == L"close") {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    std::fputs("unknown command\n", stderr);
    return 2;
}
