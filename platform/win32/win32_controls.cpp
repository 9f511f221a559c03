#include "platform/win32/win32_controls.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/win32/win32_image.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_window.h"

namespace tempikon::win32 {

namespace {

std::wstring windowText(HWND hwnd) {
    const int n = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    const int got = GetWindowTextW(hwnd, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

LRESULT CALLBACK labelProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                           DWORD_PTR ref) {
    if (msg == WM_MOUSEMOVE) {
        auto* label = reinterpret_cast<platform::Label*>(ref);
        if (label->onMouseMove) label->onMouseMove();
    } else if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, labelProc, id);
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK listProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                          DWORD_PTR ref) {
    int button = 0;
    switch (msg) {
        case WM_LBUTTONDOWN:
            button = 1;
            break;
        case WM_RBUTTONDOWN:
            button = 2;
            break;
        case WM_MBUTTONDOWN:
            button = 4;
            break;
        case WM_CONTEXTMENU:
            // (-1, -1): from the keyboard (Menu key or Shift+F10).
            if (lParam == -1) {
                auto* list = reinterpret_cast<platform::ListBox*>(ref);
                if (list->onMenuKey) list->onMenuKey();
                return 0;
            }
            break;
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, listProc, id);
            break;
        default:
            break;
    }
    const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
    if (button) {
        auto* list = reinterpret_cast<platform::ListBox*>(ref);
        if (list->onMouseDown) list->onMouseDown(button);
    }
    return result;
}

}  // namespace

std::uint32_t sysColour(int index) {
    return GetSysColor(index);
}

void watchLabelMouse(HWND hwnd, platform::Label* label) {
    SetWindowSubclass(hwnd, labelProc, 1, reinterpret_cast<DWORD_PTR>(label));
}

void watchListMouse(HWND hwnd, platform::ListBox* list) {
    SetWindowSubclass(hwnd, listProc, 1, reinterpret_cast<DWORD_PTR>(list));
}

// ---- label --------------------------------------------------------------------

Win32Label::Win32Label(HWND hwnd, std::string text) : hwnd_(hwnd), text_(std::move(text)) {}

void Win32Label::setEnabled(bool enabled) {
    EnableWindow(hwnd_, enabled);
}

void Win32Label::setHidden(bool hidden) {
    hidden_ = hidden;
    ShowWindow(hwnd_, hidden ? SW_HIDE : SW_SHOWNA);
}

bool Win32Label::isEnabled() const {
    return IsWindowEnabled(hwnd_);
}

void Win32Label::setText(const std::string& text) {
    text_ = text;
    SetWindowTextW(hwnd_, widen(text).c_str());
}

void Win32Label::setTextColour(platform::Colour colour) {
    colour_ = colour;
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void Win32Label::setToolTip(const std::string& text) {
    toolTip_ = text;
    std::wstring wide = widen(text);
    TTTOOLINFOW info{};
    info.cbSize = sizeof info;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = GetParent(hwnd_);
    info.uId = reinterpret_cast<UINT_PTR>(hwnd_);
    info.lpszText = wide.data();
    if (!tip_) {
        tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                               WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, GetParent(hwnd_),
                               nullptr, GetModuleHandleW(nullptr), nullptr);
        if (!tip_) return;
        // Status texts can be long: wrap them instead of running off the screen.
        SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, 400);
        SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    } else {
        SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
    }
    SendMessageW(tip_, TTM_ACTIVATE, text.empty() ? FALSE : TRUE, 0);
}

COLORREF Win32Label::colourRef() const {
    return resolveColour(colour_, sysColour);
}

// ---- text field ---------------------------------------------------------------

void Win32TextField::setEnabled(bool enabled) {
    EnableWindow(hwnd_, enabled);
}

void Win32TextField::setHidden(bool hidden) {
    hidden_ = hidden;
    ShowWindow(hwnd_, hidden ? SW_HIDE : SW_SHOWNA);
}

bool Win32TextField::isEnabled() const {
    return IsWindowEnabled(hwnd_);
}

void Win32TextField::setText(const std::string& text) {
    SetWindowTextW(hwnd_, widen(text).c_str());
}

std::string Win32TextField::text() const {
    return narrow(windowText(hwnd_));
}

// ---- button -------------------------------------------------------------------

Win32Button::Win32Button(HWND hwnd, std::string caption)
    : hwnd_(hwnd), caption_(std::move(caption)) {}

void Win32Button::setEnabled(bool enabled) {
    EnableWindow(hwnd_, enabled);
}

void Win32Button::setHidden(bool hidden) {
    hidden_ = hidden;
    ShowWindow(hwnd_, hidden ? SW_HIDE : SW_SHOWNA);
}

bool Win32Button::isEnabled() const {
    return IsWindowEnabled(hwnd_);
}

// ---- check box ----------------------------------------------------------------

Win32CheckBox::Win32CheckBox(HWND hwnd, std::string caption)
    : hwnd_(hwnd), caption_(std::move(caption)) {}

void Win32CheckBox::setEnabled(bool enabled) {
    EnableWindow(hwnd_, enabled);
}

void Win32CheckBox::setHidden(bool hidden) {
    hidden_ = hidden;
    ShowWindow(hwnd_, hidden ? SW_HIDE : SW_SHOWNA);
}

bool Win32CheckBox::isEnabled() const {
    return IsWindowEnabled(hwnd_);
}

void Win32CheckBox::setChecked(bool checked) {
    SendMessageW(hwnd_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Win32CheckBox::isChecked() const {
    return SendMessageW(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// ---- list box -----------------------------------------------------------------

void Win32ListBox::setEnabled(bool enabled) {
    EnableWindow(hwnd_, enabled);
}

bool Win32ListBox::isEnabled() const {
    return IsWindowEnabled(hwnd_);
}

void Win32ListBox::clear() {
    SendMessageW(hwnd_, LB_RESETCONTENT, 0, 0);
    items_.clear();
}

void Win32ListBox::addItem(const std::string& text) {
    const LRESULT at =
        SendMessageW(hwnd_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(text).c_str()));
    if (at >= 0) items_.push_back(text);
}

int Win32ListBox::selectedIndex() const {
    const LRESULT at = SendMessageW(hwnd_, LB_GETCURSEL, 0, 0);
    return at == LB_ERR ? -1 : static_cast<int>(at);
}

void Win32ListBox::setSelectedIndex(int index) {
    if (index < -1 || index >= count() || index == selectedIndex()) return;
    SendMessageW(hwnd_, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (onSelectionChanged) onSelectionChanged();
}

std::string Win32ListBox::itemText(int index) const {
    if (index < 0 || index >= count()) return {};
    return items_[static_cast<std::size_t>(index)];
}

void Win32ListBox::setItemText(int index, const std::string& text) {
    if (index < 0 || index >= count()) return;
    const bool selected = selectedIndex() == index;
    const LRESULT top = SendMessageW(hwnd_, LB_GETTOPINDEX, 0, 0);
    SendMessageW(hwnd_, WM_SETREDRAW, FALSE, 0);
    SendMessageW(hwnd_, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    SendMessageW(hwnd_, LB_INSERTSTRING, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(widen(text).c_str()));
    if (selected) SendMessageW(hwnd_, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(hwnd_, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
    SendMessageW(hwnd_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(hwnd_, nullptr, TRUE);
    items_[static_cast<std::size_t>(index)] = text;
}

// ---- combo box --------------------------------------------------------------

void Win32ComboBox::setEnabled(bool enabled) {
    EnableWindow(hwnd_, enabled);
}

bool Win32ComboBox::isEnabled() const {
    return IsWindowEnabled(hwnd_);
}

void Win32ComboBox::addItem(const std::string& text) {
    const LRESULT at =
        SendMessageW(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(text).c_str()));
    if (at >= 0) items_.push_back(text);
}

int Win32ComboBox::selectedIndex() const {
    const LRESULT at = SendMessageW(hwnd_, CB_GETCURSEL, 0, 0);
    return at == CB_ERR ? -1 : static_cast<int>(at);
}

void Win32ComboBox::setSelectedIndex(int index) {
    if (index < -1 || index >= count() || index == selectedIndex()) return;
    // CB_SETCURSEL sends no CBN_SELCHANGE: notify as a user's choice does.
    SendMessageW(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (onSelectionChanged) onSelectionChanged();
}

std::string Win32ComboBox::itemText(int index) const {
    if (index < 0 || index >= count()) return {};
    return items_[static_cast<std::size_t>(index)];
}

void fitComboBoxHeight(HWND hwnd, int heightPixels) {
    LRESULT field = SendMessageW(hwnd, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    if (field == CB_ERR) return;
    // Systems differ in what the field's height counts (Wine reads back 2
    // more than was set), so correct by what the control became.
    for (int pass = 0; pass < 3; ++pass) {
        RECT r;
        if (!GetWindowRect(hwnd, &r)) return;
        const LRESULT off = (r.bottom - r.top) - heightPixels;
        if (off == 0 || field - off < 1) return;
        field -= off;
        SendMessageW(hwnd, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
    }
}

// ---- menus --------------------------------------------------------------------

Win32MenuItem::Win32MenuItem(HMENU menu, UINT id, HWND menuBarOwner, std::string caption)
    : menu_(menu), id_(id), owner_(menuBarOwner), caption_(std::move(caption)) {}

void Win32MenuItem::setEnabled(bool enabled) {
    EnableMenuItem(menu_, id_, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    if (owner_) DrawMenuBar(owner_);
}

bool Win32MenuItem::isEnabled() const {
    return !(GetMenuState(menu_, id_, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED));
}

Win32PopupMenu::Win32PopupMenu(Win32Window& window) : window_(window), menu_(CreatePopupMenu()) {}

Win32PopupMenu::~Win32PopupMenu() {
    DestroyMenu(menu_);
}

platform::MenuItem& Win32PopupMenu::addItem(const std::string& caption) {
    const UINT id = static_cast<UINT>(window_.nextId());
    AppendMenuW(menu_, MF_STRING, id, widen(caption).c_str());
    items_.push_back(std::make_unique<Win32MenuItem>(menu_, id, nullptr, caption));
    return *items_.back();
}

void Win32PopupMenu::popupAtCursor() {
    POINT at{};
    GetCursorPos(&at);
    popupAt(at);
}

void Win32PopupMenu::popupAtSelectedEntry(const platform::ListBox& list) {
    const auto* box = dynamic_cast<const Win32ListBox*>(&list);
    RECT item{};
    if (!box || list.selectedIndex() < 0 ||
        SendMessageW(box->hwnd(), LB_GETITEMRECT, static_cast<WPARAM>(list.selectedIndex()),
                     reinterpret_cast<LPARAM>(&item)) == LB_ERR) {
        popupAtCursor();
        return;
    }
    POINT at{item.left, item.bottom};
    ClientToScreen(box->hwnd(), &at);
    popupAt(at);
}

void Win32PopupMenu::popupAt(POINT at) {
    HWND owner = window_.hwnd();
    // Without the foreground the menu would not close on a click elsewhere.
    SetForegroundWindow(owner);
    // The menu's loop reads this first: it opens with its first item
    // highlighted, ready for Enter.
    PostMessageW(owner, WM_KEYDOWN, VK_DOWN, 0);
    const UINT chosen = static_cast<UINT>(
        TrackPopupMenu(menu_, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN, at.x,
                       at.y, 0, owner, nullptr));
    PostMessageW(owner, WM_NULL, 0, 0);
    if (!chosen) return;
    for (const auto& item : items_) {
        if (item->id() == chosen) {
            if (item->isEnabled() && item->onClick) item->onClick();
            return;
        }
    }
}

// ---- picture ------------------------------------------------------------------

Win32Picture::Win32Picture(HWND hwnd, std::string image) : hwnd_(hwnd), image_(std::move(image)) {}

Win32Picture::~Win32Picture() {
    if (bitmap_) DeleteObject(bitmap_);
}

void Win32Picture::setEnabled(bool enabled) {
    EnableWindow(hwnd_, enabled);
}

bool Win32Picture::isEnabled() const {
    return IsWindowEnabled(hwnd_);
}

void Win32Picture::draw(const DRAWITEMSTRUCT& item, HBRUSH background) {
    FillRect(item.hDC, &item.rcItem, background);
    if (image_ != "logo") return;
    const int w = item.rcItem.right - item.rcItem.left;
    const int h = item.rcItem.bottom - item.rcItem.top;
    if (!bitmap_ || w != width_ || h != height_) {
        if (bitmap_) DeleteObject(bitmap_);
        bitmap_ = loadPngResource(L"LOGO", w, h);
        width_ = w;
        height_ = h;
    }
    if (!bitmap_) return;
    HDC memory = CreateCompatibleDC(item.hDC);
    HGDIOBJ old = SelectObject(memory, bitmap_);
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(item.hDC, item.rcItem.left, item.rcItem.top, w, h, memory, 0, 0, w, h, blend);
    SelectObject(memory, old);
    DeleteDC(memory);
}

}  // namespace tempikon::win32
