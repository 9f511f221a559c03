#include "platform/win32/win32_tray.h"

#include <shellapi.h>

#include <algorithm>
#include <cwchar>

#include "platform/win32/win32_controls.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_text.h"

namespace tempikon::win32 {

namespace {

constexpr UINT kIconMessage = WM_APP + 0x40;
constexpr UINT kIconId = 1;

const wchar_t* trayClass() {
    return L"TempikonTray";
}

// A clock face in the state's colour: green set, red failed, grey not yet.
HICON drawIcon(platform::TrayState state) {
    COLORREF face = RGB(0x9e, 0x9e, 0x9e);
    if (state == platform::TrayState::Ok) face = RGB(0x2e, 0x9d, 0x3a);
    if (state == platform::TrayState::Failed) face = RGB(0xd3, 0x2f, 0x2f);
    const int size = GetSystemMetrics(SM_CXSMICON) > 0 ? GetSystemMetrics(SM_CXSMICON) : 16;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP colour = CreateCompatibleBitmap(screen, size, size);
    HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    ReleaseDC(nullptr, screen);

    // The mask: black (opaque) inside the face, white around it.
    HGDIOBJ old = SelectObject(dc, mask);
    RECT all{0, 0, size, size};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SelectObject(dc, GetStockObject(BLACK_BRUSH));
    SelectObject(dc, GetStockObject(BLACK_PEN));
    Ellipse(dc, 0, 0, size, size);

    SelectObject(dc, colour);
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    HBRUSH brush = CreateSolidBrush(face);
    HPEN rim = CreatePen(PS_SOLID, 1, RGB(0xff, 0xff, 0xff));
    SelectObject(dc, brush);
    SelectObject(dc, rim);
    Ellipse(dc, 0, 0, size, size);
    HPEN hands = CreatePen(PS_SOLID, std::max(1, size / 10), RGB(0xff, 0xff, 0xff));
    SelectObject(dc, hands);
    const int c = size / 2;
    MoveToEx(dc, c, c, nullptr);
    LineTo(dc, c, size / 5);
    MoveToEx(dc, c, c, nullptr);
    LineTo(dc, c + size / 5, c + size / 10);
    SelectObject(dc, old);
    DeleteObject(hands);
    DeleteObject(rim);
    DeleteObject(brush);
    DeleteDC(dc);

    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmColor = colour;
    info.hbmMask = mask;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(colour);
    DeleteObject(mask);
    return icon;
}

template <size_t N>
void copyInto(wchar_t (&target)[N], const std::wstring& text) {
    // Cut to the field's size; the shell shows no more anyway.
    const size_t n = std::min(text.size(), N - 1);
    std::wmemcpy(target, text.data(), n);
    target[n] = L'\0';
}

}  // namespace

Win32Tray::Win32Tray(Win32Platform& platform) : platform_(platform) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = platform_.instance();
    wc.lpszClassName = trayClass();
    RegisterClassExW(&wc);  // fails harmlessly when registered before
    // A hidden top-level window, not a message-only one: the popup menu
    // needs a window that can come to the foreground.
    hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW, trayClass(), L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                            nullptr, platform_.instance(), nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    menu_ = CreatePopupMenu();
    icon_ = drawIcon(platform::TrayState::Unknown);
}

Win32Tray::~Win32Tray() {
    *alive_ = false;
    hide();
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
    items_.clear();
    DestroyMenu(menu_);
    if (icon_) DestroyIcon(icon_);
}

bool Win32Tray::isAvailable() const {
    return FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr;
}

void Win32Tray::update(DWORD flags) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = hwnd_;
    data.uID = kIconId;
    data.uFlags = flags | NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kIconMessage;
    data.hIcon = icon_;
    copyInto(data.szTip, tip_);
    Shell_NotifyIconW(shown_ ? NIM_MODIFY : NIM_ADD, &data);
}

void Win32Tray::show() {
    if (shown_) return;
    update(0);
    shown_ = true;
}

void Win32Tray::hide() {
    if (!shown_) return;
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = hwnd_;
    data.uID = kIconId;
    Shell_NotifyIconW(NIM_DELETE, &data);
    shown_ = false;
}

void Win32Tray::setState(platform::TrayState state) {
    HICON old = icon_;
    icon_ = drawIcon(state);
    if (shown_) update(0);
    if (old) DestroyIcon(old);
}

void Win32Tray::setToolTip(const std::string& text) {
    tip_ = widen(text);
    if (shown_) update(0);
}

platform::MenuItem& Win32Tray::addMenuItem(const std::string& caption) {
    const UINT id = nextId_++;
    AppendMenuW(menu_, MF_STRING, id, widen(caption).c_str());
    items_.push_back(std::make_unique<Win32MenuItem>(menu_, id, nullptr, caption));
    return *items_.back();
}

void Win32Tray::notify(const std::string& title, const std::string& text) {
    if (!shown_) return;
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = hwnd_;
    data.uID = kIconId;
    data.uFlags = NIF_INFO;
    copyInto(data.szInfoTitle, widen(title));
    copyInto(data.szInfo, widen(text));
    data.dwInfoFlags = NIIF_INFO;
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

LRESULT CALLBACK Win32Tray::windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32Tray*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self) return self->handle(msg, wParam, lParam);
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT Win32Tray::handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kIconMessage && wParam == kIconId) {
        switch (LOWORD(lParam)) {
            case WM_LBUTTONUP:
            case WM_LBUTTONDBLCLK:
            case NIN_SELECT:
            case NIN_KEYSELECT: {
                // From the event loop, so that a handler may wait or destroy the tray.
                platform_.post([this, alive = alive_] {
                    if (*alive && onActivated) {
                        const auto handler = onActivated;
                        handler();
                    }
                });
                return 0;
            }
            case WM_RBUTTONUP:
            case WM_CONTEXTMENU:
                popupMenu();
                return 0;
            default:
                return 0;
        }
    }
    return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

void Win32Tray::popupMenu() {
    POINT at{};
    GetCursorPos(&at);
    // The menu closes when the user clicks elsewhere only if its window is
    // in the foreground; the WM_NULL after it is the documented companion.
    SetForegroundWindow(hwnd_);
    const UINT id = static_cast<UINT>(TrackPopupMenu(
        menu_, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, hwnd_, nullptr));
    PostMessageW(hwnd_, WM_NULL, 0, 0);
    if (id != 0) run(id);
}

void Win32Tray::run(UINT id) {
    platform_.post([this, id, alive = alive_] {
        if (!*alive) return;
        for (const auto& item : items_) {
            if (item->id() != id || !item->isEnabled() || !item->onClick) continue;
            const auto handler = item->onClick;
            handler();
            return;
        }
    });
}

}  // namespace tempikon::win32
