#include "platform/win32/win32_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "platform/win32/win32_canvas.h"
#include "platform/win32/win32_controls.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_text.h"
#include "tempikon_version.h"

namespace tempikon::win32 {

namespace {

const wchar_t* windowClass() {
    static const std::wstring name = widen(version::kProductName) + L"Window";
    return name.c_str();
}

constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED, Windows 8.1 and later
constexpr int kIconResource = 1;

// Functions of newer Windows versions, looked up at run time so that the
// program still starts where they are missing.
struct DpiApi {
    using ForWindow = UINT(WINAPI*)(HWND);
    using AdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    using MetricsForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    ForWindow forWindow = nullptr;
    AdjustForDpi adjust = nullptr;
    MetricsForDpi metrics = nullptr;

    DpiApi() {
        HMODULE user = GetModuleHandleW(L"user32.dll");
        if (!user) return;
        forWindow = reinterpret_cast<ForWindow>(
            reinterpret_cast<void*>(GetProcAddress(user, "GetDpiForWindow")));
        adjust = reinterpret_cast<AdjustForDpi>(
            reinterpret_cast<void*>(GetProcAddress(user, "AdjustWindowRectExForDpi")));
        metrics = reinterpret_cast<MetricsForDpi>(
            reinterpret_cast<void*>(GetProcAddress(user, "SystemParametersInfoForDpi")));
    }
};

const DpiApi& dpiApi() {
    static const DpiApi api;
    return api;
}

int screenDpi() {
    HDC dc = GetDC(nullptr);
    const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

int windowDpi(HWND hwnd) {
    if (dpiApi().forWindow) {
        const UINT dpi = dpiApi().forWindow(hwnd);
        if (dpi > 0) return static_cast<int>(dpi);
    }
    // Windows 8.1: the DPI of the window's monitor, from shcore.
    using ForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const auto forMonitor = [] {
        HMODULE shcore = LoadLibraryW(L"shcore.dll");
        return shcore ? reinterpret_cast<ForMonitor>(
                            reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")))
                      : nullptr;
    }();
    UINT x = 0, y = 0;
    if (forMonitor &&
        SUCCEEDED(forMonitor(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), 0, &x, &y)) &&
        y > 0)
        return static_cast<int>(y);
    return screenDpi();
}

// The desktop's message font at the given DPI: the window's default font.
LOGFONTW messageFont(int dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (dpiApi().metrics && dpiApi().metrics(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0,
                                             static_cast<UINT>(dpi)))
        return metrics.lfMessageFont;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, screenDpi());
        return metrics.lfMessageFont;
    }
    LOGFONTW fallback{};
    fallback.lfHeight = -MulDiv(8, dpi, 72);
    fallback.lfWeight = FW_NORMAL;
    fallback.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(fallback.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE - 1);
    return fallback;
}

}  // namespace

// ---- the window ---------------------------------------------------------------

void Win32Window::registerClass(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowProc;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = instance;
    wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON),
                                             GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconResource),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.lpszClassName = windowClass();
    RegisterClassExW(&wc);

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
}

Win32Window::Win32Window(Win32Platform& platform, const platform::WindowSpec& spec, HWND owner)
    : platform_(platform), spec_(spec) {
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    DWORD exStyle = WS_EX_CONTROLPARENT;
    if (spec.dialog) {
        exStyle |= WS_EX_DLGMODALFRAME;
    } else {
        style |= WS_MINIMIZEBOX;
    }
    if (spec.hasBackground) {
        backgroundColour_ = resolveColour(spec.background, sysColour);
        backgroundBrush_ = CreateSolidBrush(backgroundColour_);
    } else {
        backgroundColour_ = GetSysColor(COLOR_BTNFACE);
        backgroundBrush_ = CreateSolidBrush(backgroundColour_);
    }
    CreateWindowExW(exStyle, windowClass(), widen(spec.caption).c_str(), style, CW_USEDEFAULT,
                    CW_USEDEFAULT, 100, 100, owner, nullptr, platform.instance(), this);
    dpi_ = windowDpi(hwnd_);
    fitClientArea();
    platform_.addWindow(this);
}

Win32Window::~Win32Window() {
    *alive_ = false;
    endModality();
    platform_.removeWindow(this);
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);  // the controls and the menu bar go with it
    }
    owned_.clear();
    for (const auto& [key, font] : fonts_) DeleteObject(font);
    if (backgroundBrush_) DeleteObject(backgroundBrush_);
}

LRESULT CALLBACK Win32Window::windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* self =
            static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self) return self->handle(msg, wParam, lParam);
    return DefDlgProcW(hwnd, msg, wParam, lParam);
}

LRESULT Win32Window::handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_CLOSE:
            close();
            return 0;
        case WM_COMMAND: {
            // Escape in a dialog: the same road as its close box.
            if (LOWORD(wParam) == IDCANCEL && lParam == 0 && spec_.dialog) {
                close();
                return 0;
            }
            auto it = commands_.find(LOWORD(wParam));
            if (it == commands_.end()) return 0;  // IDOK of the dialog keys
            const auto handler = it->second;      // the handler may add controls
            handler(HIWORD(wParam));
            return 0;
        }
        case WM_CTLCOLORSTATIC: {
            const HWND child = reinterpret_cast<HWND>(lParam);
            auto label = labels_.find(child);
            const bool checkBox =
                std::find(checkBoxes_.begin(), checkBoxes_.end(), child) != checkBoxes_.end();
            if (label == labels_.end() && !checkBox && !pictures_.count(child)) break;
            HDC dc = reinterpret_cast<HDC>(wParam);
            if (label != labels_.end()) SetTextColor(dc, label->second->colourRef());
            if (checkBox) SetTextColor(dc, resolveColour(platform::kButtonTextColour, sysColour));
            SetBkColor(dc, backgroundColour_);
            return reinterpret_cast<LRESULT>(backgroundBrush_);
        }
        case WM_CTLCOLORDLG:
            return reinterpret_cast<LRESULT>(backgroundBrush_);
        case WM_ERASEBKGND: {
            RECT area;
            GetClientRect(hwnd_, &area);
            FillRect(reinterpret_cast<HDC>(wParam), &area, backgroundBrush_);
            return 1;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (std::find(lists_.begin(), lists_.end(), item->hwndItem) != lists_.end()) {
                drawListEntry(*item);
                return TRUE;
            }
            auto picture = pictures_.find(item->hwndItem);
            if (picture == pictures_.end()) break;
            picture->second->draw(*item, backgroundBrush_);
            return TRUE;
        }
        case WM_MOUSEMOVE:
            if (onMouseMove) onMouseMove();
            return 0;
        case WM_SIZE:
            // Told from the event loop: a handler may hide the window, which
            // must not happen inside its own minimising.
            if (wParam == SIZE_MINIMIZED && onMinimised) {
                platform_.post([this, alive = alive_] {
                    if (*alive && !closed_ && IsIconic(hwnd_) && onMinimised) {
                        const auto handler = onMinimised;
                        handler();
                    }
                });
            }
            break;
        case WM_SYSCOLORCHANGE:
            if (!spec_.hasBackground || (spec_.background & platform::kSystemColourFlag)) {
                DeleteObject(backgroundBrush_);
                backgroundColour_ = spec_.hasBackground ? resolveColour(spec_.background, sysColour)
                                                        : GetSysColor(COLOR_BTNFACE);
                backgroundBrush_ = CreateSolidBrush(backgroundColour_);
                InvalidateRect(hwnd_, nullptr, TRUE);
            }
            break;
        case kDpiChanged:
            dpiChanged(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return 0;
        default:
            break;
    }
    return DefDlgProcW(hwnd_, msg, wParam, lParam);
}

HFONT Win32Window::fontFor(const platform::FontSpec& spec) {
    const auto key = std::make_tuple(widen(spec.face),
                                     static_cast<int>(std::lround(spec.points * 100)), spec.bold);
    auto it = fonts_.find(key);
    if (it != fonts_.end()) return it->second;
    LOGFONTW font = messageFont(dpi_);
    if (!spec.face.empty()) {
        std::wstring face = widen(spec.face);
        face.resize(std::min<std::size_t>(face.size(), LF_FACESIZE - 1));
        wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE);
        font.lfCharSet = DEFAULT_CHARSET;
        font.lfPitchAndFamily =
            isFixedPitchFace(spec.face) ? FIXED_PITCH | FF_MODERN : DEFAULT_PITCH;
    }
    if (spec.points > 0) font.lfHeight = -static_cast<LONG>(std::lround(spec.points * dpi_ / 72.0));
    font.lfWeight = spec.bold ? FW_BOLD : FW_NORMAL;
    HFONT handle = CreateFontIndirectW(&font);
    fonts_[key] = handle;
    return handle;
}

HWND Win32Window::addChild(const wchar_t* cls, DWORD style, DWORD exStyle,
                           const platform::TwipsRect& rect, const std::string& text,
                           const platform::FontSpec& font, int id) {
    HWND child = CreateWindowExW(exStyle, cls, widen(text).c_str(), WS_CHILD | WS_VISIBLE | style,
                                 twipsToPixels(rect.left, dpi_), twipsToPixels(rect.top, dpi_),
                                 twipsToPixels(rect.width, dpi_), twipsToPixels(rect.height, dpi_),
                                 hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 platform_.instance(), nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(font)), FALSE);
    children_.push_back({child, rect, font});
    return child;
}

void Win32Window::setCaption(const std::string& caption) {
    spec_.caption = caption;
    SetWindowTextW(hwnd_, widen(caption).c_str());
}

std::string Win32Window::caption() const {
    return spec_.caption;
}

platform::Label& Win32Window::addLabel(const platform::TwipsRect& rect, const std::string& text,
                                       const platform::FontSpec& font) {
    const int id = nextId();
    // No "&" prefixes: a label shows server names and other texts as they are.
    HWND h = addChild(L"STATIC", SS_LEFT | SS_NOPREFIX | SS_NOTIFY, 0, rect, text, font, id);
    auto label = std::make_unique<Win32Label>(h, text);
    Win32Label* raw = label.get();
    labels_[h] = raw;
    watchLabelMouse(h, raw);
    onCommand(id, [raw](int code) {
        if (code == STN_CLICKED && raw->onClick) raw->onClick();
    });
    owned_.push_back(std::move(label));
    return *raw;
}

platform::TextField& Win32Window::addTextField(const platform::TwipsRect& rect,
                                               platform::Align align) {
    const DWORD style =
        WS_TABSTOP | ES_AUTOHSCROLL | (align == platform::Align::Right ? ES_RIGHT : ES_LEFT);
    HWND h = addChild(L"EDIT", style, WS_EX_CLIENTEDGE, rect, "", {}, nextId());
    owned_.push_back(std::make_unique<Win32TextField>(h));
    return static_cast<platform::TextField&>(*owned_.back());
}

platform::Button& Win32Window::addButton(const platform::TwipsRect& rect,
                                         const std::string& caption,
                                         const platform::FontSpec& font) {
    const int id = nextId();
    HWND h = addChild(L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0, rect, caption, font, id);
    auto button = std::make_unique<Win32Button>(h, caption);
    Win32Button* raw = button.get();
    onCommand(id, [raw](int code) {
        // Enter reaches a default button even while it is disabled.
        if (code == BN_CLICKED && raw->isEnabled() && raw->onClick) raw->onClick();
    });
    owned_.push_back(std::move(button));
    return *raw;
}

platform::CheckBox& Win32Window::addCheckBox(const platform::TwipsRect& rect,
                                             const std::string& caption,
                                             const platform::FontSpec& font) {
    HWND h = addChild(L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX, 0, rect, caption, font, nextId());
    checkBoxes_.push_back(h);
    owned_.push_back(std::make_unique<Win32CheckBox>(h, caption));
    return static_cast<platform::CheckBox&>(*owned_.back());
}

platform::ListBox& Win32Window::addListBox(const platform::TwipsRect& rect,
                                           const platform::FontSpec& font) {
    const int id = nextId();
    HWND h = addChild(L"LISTBOX",
                      WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT |
                          LBS_OWNERDRAWFIXED | LBS_HASSTRINGS,
                      WS_EX_CLIENTEDGE, rect, "", font, id);
    lists_.push_back(h);
    fitListEntryHeight(h);
    auto list = std::make_unique<Win32ListBox>(h);
    Win32ListBox* raw = list.get();
    watchListMouse(h, raw);
    onCommand(id, [raw](int code) {
        if (code == LBN_SELCHANGE && raw->onSelectionChanged) raw->onSelectionChanged();
        if (code == LBN_DBLCLK && raw->onDoubleClick) raw->onDoubleClick();
    });
    owned_.push_back(std::move(list));
    return *raw;
}

platform::ComboBox& Win32Window::addComboBox(const platform::TwipsRect& rect,
                                             const platform::FontSpec& font) {
    // The height a drop-down list is created with includes its open list.
    constexpr int kOpenListTwips = 1800;
    platform::TwipsRect withList = rect;
    withList.height += kOpenListTwips;
    const int id = nextId();
    HWND h = addChild(L"COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0, withList, "",
                      font, id);
    children_.back().closedHeightTwips = rect.height;
    fitComboBoxHeight(h, twipsToPixels(rect.height, dpi_));
    auto box = std::make_unique<Win32ComboBox>(h);
    Win32ComboBox* raw = box.get();
    onCommand(id, [raw](int code) {
        if (code == CBN_SELCHANGE && raw->onSelectionChanged) raw->onSelectionChanged();
    });
    owned_.push_back(std::move(box));
    return *raw;
}

platform::Picture& Win32Window::addPicture(const platform::TwipsRect& rect,
                                           const std::string& image) {
    HWND h = addChild(L"STATIC", SS_OWNERDRAW, 0, rect, "", {}, nextId());
    auto picture = std::make_unique<Win32Picture>(h, image);
    pictures_[h] = picture.get();
    owned_.push_back(std::move(picture));
    return static_cast<platform::Picture&>(*owned_.back());
}

platform::Canvas& Win32Window::addCanvas(const platform::TwipsRect& rect) {
    HWND h = addChild(L"STATIC", SS_NOTIFY | WS_TABSTOP, 0, rect, "", {}, nextId());
    owned_.push_back(std::make_unique<Win32Canvas>(h));
    return static_cast<platform::Canvas&>(*owned_.back());
}

platform::MenuItem& Win32Window::addMenuItem(const std::string& caption) {
    const bool first = !menuBar_;
    if (first) menuBar_ = CreateMenu();
    const int id = nextId();
    AppendMenuW(menuBar_, MF_STRING, static_cast<UINT_PTR>(id), widen(caption).c_str());
    if (first) {
        SetMenu(hwnd_, menuBar_);
    } else {
        DrawMenuBar(hwnd_);
    }
    fitClientArea();  // the bar takes its height from the window, not the client area
    auto item = std::make_unique<Win32MenuItem>(menuBar_, static_cast<UINT>(id), hwnd_, caption);
    Win32MenuItem* raw = item.get();
    onCommand(id, [raw](int) {
        if (raw->isEnabled() && raw->onClick) raw->onClick();
    });
    owned_.push_back(std::move(item));
    return *raw;
}

platform::PopupMenu& Win32Window::addPopupMenu(const std::string&) {
    owned_.push_back(std::make_unique<Win32PopupMenu>(*this));
    return static_cast<platform::PopupMenu&>(*owned_.back());
}

void Win32Window::setDefaultButton(platform::Button& button) {
    HWND h = static_cast<Win32Button&>(button).hwnd();
    SendMessageW(hwnd_, DM_SETDEFID, static_cast<WPARAM>(GetDlgCtrlID(h)), 0);
}

namespace {

HWND controlHandle(platform::Control& control) {
    if (auto* field = dynamic_cast<Win32TextField*>(&control)) return field->hwnd();
    if (auto* list = dynamic_cast<Win32ListBox*>(&control)) return list->hwnd();
    if (auto* box = dynamic_cast<Win32ComboBox*>(&control)) return box->hwnd();
    if (auto* box = dynamic_cast<Win32CheckBox*>(&control)) return box->hwnd();
    if (auto* button = dynamic_cast<Win32Button*>(&control)) return button->hwnd();
    return nullptr;
}

}  // namespace

void Win32Window::setBuddy(platform::Label& label, platform::Control& target) {
    HWND labelHandle = nullptr;
    for (const auto& [h, candidate] : labels_) {
        if (candidate == &label) labelHandle = h;
    }
    HWND targetHandle = controlHandle(target);
    if (!labelHandle || !targetHandle) return;
    // The dialog manager moves the focus from a static's mnemonic to the next
    // tab stop in z-order: the label goes just before its control, and shows
    // its "&".
    const LONG_PTR style = GetWindowLongPtrW(labelHandle, GWL_STYLE);
    SetWindowLongPtrW(labelHandle, GWL_STYLE, style & ~static_cast<LONG_PTR>(SS_NOPREFIX));
    HWND before = GetWindow(targetHandle, GW_HWNDPREV);
    if (before != labelHandle) {
        SetWindowPos(labelHandle, before ? before : HWND_TOP, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    InvalidateRect(labelHandle, nullptr, TRUE);
}

void Win32Window::fitClientArea() {
    const int width = twipsToPixels(spec_.clientWidthTwips, dpi_);
    const int height = twipsToPixels(spec_.clientHeightTwips, dpi_);
    RECT frame{0, 0, width, height};
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
    if (dpiApi().adjust) {
        dpiApi().adjust(&frame, style, menuBar_ != nullptr, exStyle, static_cast<UINT>(dpi_));
    } else {
        AdjustWindowRectEx(&frame, style, menuBar_ != nullptr, exStyle);
    }
    const UINT flags = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
    int w = frame.right - frame.left;
    int h = frame.bottom - frame.top;
    SetWindowPos(hwnd_, nullptr, 0, 0, w, h, flags);
    // A menu bar that wraps onto a second line takes more than the estimate.
    RECT client;
    if (!IsIconic(hwnd_) && GetClientRect(hwnd_, &client) &&
        (client.right != width || client.bottom != height)) {
        w += width - client.right;
        h += height - client.bottom;
        SetWindowPos(hwnd_, nullptr, 0, 0, w, h, flags);
    }
}

void Win32Window::fitListEntryHeight(HWND list) {
    // An owner-drawn list measures its rows before it has its font: one row
    // is the font's line.
    HDC dc = GetDC(list);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(list, dc);
    SendMessageW(list, LB_SETITEMHEIGHT, 0, metrics.tmHeight + 2);
}

void Win32Window::drawListEntry(const DRAWITEMSTRUCT& item) {
    if (item.itemID == static_cast<UINT>(-1)) {
        if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &item.rcItem);
        return;
    }
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    const bool enabled = IsWindowEnabled(item.hwndItem) != FALSE;
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    const LRESULT length = SendMessageW(item.hwndItem, LB_GETTEXTLEN, item.itemID, 0);
    std::wstring text(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, L'\0');
    const LRESULT got =
        SendMessageW(item.hwndItem, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()));
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    // A tab shows as one blank, so that the fixed columns stay in line.
    std::replace(text.begin(), text.end(), L'\t', L' ');
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, GetSysColor(!enabled   ? COLOR_GRAYTEXT
                                       : selected ? COLOR_HIGHLIGHTTEXT
                                                  : COLOR_WINDOWTEXT));
    RECT area = item.rcItem;
    area.left += 2;
    // Too long for the row: it ends in an ellipsis rather than being cut;
    // the status line under the list holds a result whole.
    DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &area,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &item.rcItem);
}

void Win32Window::placeChildren() {
    for (const Child& child : children_) {
        MoveWindow(child.hwnd, twipsToPixels(child.rect.left, dpi_),
                   twipsToPixels(child.rect.top, dpi_), twipsToPixels(child.rect.width, dpi_),
                   twipsToPixels(child.rect.height, dpi_), FALSE);
        SendMessageW(child.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(child.font)), FALSE);
        // The new font has set the selection field's height afresh.
        if (child.closedHeightTwips > 0)
            fitComboBoxHeight(child.hwnd, twipsToPixels(child.closedHeightTwips, dpi_));
        if (std::find(lists_.begin(), lists_.end(), child.hwnd) != lists_.end())
            fitListEntryHeight(child.hwnd);
    }
}

// Moved to a screen of another DPI: everything is measured afresh.
void Win32Window::dpiChanged(int dpi, const RECT* suggested) {
    if (dpi <= 0 || dpi == dpi_) return;
    dpi_ = dpi;
    auto oldFonts = std::move(fonts_);
    fonts_.clear();
    placeChildren();
    for (const auto& [key, font] : oldFonts) DeleteObject(font);
    if (suggested)
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    fitClientArea();
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void Win32Window::focusFirstControl() {
    HWND focus = GetFocus();
    if (focus && (focus == hwnd_ || IsChild(hwnd_, focus))) return;
    HWND first = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
    if (first) SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
}

void Win32Window::show() {
    if (closed_) return;
    if (IsWindowVisible(hwnd_)) return;
    if (everShown_) {
        // Back from hide(): normal, and in front.
        ShowWindow(hwnd_, SW_SHOWNORMAL);
        SetForegroundWindow(hwnd_);
        UpdateWindow(hwnd_);
        return;
    }
    if (!everShown_) {
        fitClientArea();
        HWND owner = GetWindow(hwnd_, GW_OWNER);
        if (owner && IsWindowVisible(owner) && !IsIconic(owner)) {
            // A dialog opens centred over its owner, kept on the owner's screen.
            RECT o, me;
            GetWindowRect(owner, &o);
            GetWindowRect(hwnd_, &me);
            int x = o.left + ((o.right - o.left) - (me.right - me.left)) / 2;
            int y = o.top + ((o.bottom - o.top) - (me.bottom - me.top)) / 2;
            MONITORINFO monitor{};
            monitor.cbSize = sizeof monitor;
            if (GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
                const RECT& work = monitor.rcWork;
                x = std::max<int>(work.left, std::min<int>(x, work.right - (me.right - me.left)));
                y = std::max<int>(work.top, std::min<int>(y, work.bottom - (me.bottom - me.top)));
            }
            SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    const bool minimised = pendingMinimise_;
    pendingMinimise_ = false;
    // The first window honours how the program was started (a shortcut set
    // to "Minimised", say); SW_SHOWDEFAULT reads it.
    const bool firstWindow = !spec_.dialog && !everShown_ && platform_.windows().front() == this;
    ShowWindow(hwnd_, minimised     ? SW_SHOWMINNOACTIVE
                      : firstWindow ? SW_SHOWDEFAULT
                                    : SW_SHOWNORMAL);
    everShown_ = true;
    UpdateWindow(hwnd_);
    if (!minimised) focusFirstControl();
}

void Win32Window::showModal() {
    if (closed_) return;
    if (!modal_) {
        modal_ = true;
        for (Win32Window* other : platform_.windows()) {
            if (other == this || !IsWindowEnabled(other->hwnd())) continue;
            EnableWindow(other->hwnd(), FALSE);
            disabledByModal_.push_back(other->hwnd());
        }
    }
    show();
    SetForegroundWindow(hwnd_);
}

void Win32Window::endModality() {
    modal_ = false;
    for (HWND h : disabledByModal_)
        if (IsWindow(h)) EnableWindow(h, TRUE);
    disabledByModal_.clear();
}

void Win32Window::minimise() {
    if (closed_) return;
    if (IsWindowVisible(hwnd_)) {
        ShowWindow(hwnd_, SW_MINIMIZE);
    } else {
        pendingMinimise_ = true;
    }
}

void Win32Window::hide() {
    if (closed_) return;
    pendingMinimise_ = false;
    ShowWindow(hwnd_, SW_HIDE);
}

bool Win32Window::isMinimised() const {
    if (closed_) return false;
    return IsWindowVisible(hwnd_) ? IsIconic(hwnd_) != 0 : pendingMinimise_;
}

bool Win32Window::isVisible() const {
    return !closed_ && IsWindowVisible(hwnd_);
}

void Win32Window::close() {
    if (closed_) return;
    if (onCloseRequest && !onCloseRequest()) return;
    closed_ = true;
    // The owner is enabled before this window goes, so that it, and not some
    // other program, becomes active.
    endModality();
    ShowWindow(hwnd_, SW_HIDE);
    if (onClosed) onClosed();
}

}  // namespace tempikon::win32
