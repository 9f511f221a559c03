#include "platform/win32/win32_canvas.h"

#include <commctrl.h>
#include <windowsx.h>

#include "platform/win32/win32_text.h"

namespace tempikon::win32 {

namespace {

COLORREF Rgb(platform::Colour c) {
    // Already 0x00BBGGRR, as COLORREF is.
    return static_cast<COLORREF>(c & 0x00FFFFFFu);
}

}  // namespace

Win32Canvas::Win32Canvas(HWND hwnd) : hwnd_(hwnd) {
    SetWindowSubclass(hwnd_, proc, 1, reinterpret_cast<DWORD_PTR>(this));
}

Win32Canvas::~Win32Canvas() {
    RemoveWindowSubclass(hwnd_, proc, 1);
}

void Win32Canvas::setEnabled(bool enabled) {
    EnableWindow(hwnd_, enabled);
}

bool Win32Canvas::isEnabled() const {
    return IsWindowEnabled(hwnd_) != FALSE;
}

int Win32Canvas::pixelWidth() const {
    RECT r{};
    GetClientRect(hwnd_, &r);
    return r.right - r.left;
}

int Win32Canvas::pixelHeight() const {
    RECT r{};
    GetClientRect(hwnd_, &r);
    return r.bottom - r.top;
}

void Win32Canvas::draw(platform::Drawing drawing) {
    drawing_ = std::move(drawing);
    InvalidateRect(hwnd_, nullptr, FALSE);
}

void Win32Canvas::paint() {
    PAINTSTRUCT ps;
    HDC target = BeginPaint(hwnd_, &ps);
    const int width = pixelWidth();
    const int height = pixelHeight();
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bitmap = CreateCompatibleBitmap(target, width, height);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);

    RECT all{0, 0, width, height};
    HBRUSH background = CreateSolidBrush(Rgb(drawing_.background));
    FillRect(dc, &all, background);
    DeleteObject(background);

    for (const auto& line : drawing_.lines) {
        HPEN pen = CreatePen(line.dotted ? PS_DOT : PS_SOLID, line.dotted ? 1 : line.width,
                             Rgb(line.colour));
        HGDIOBJ old = SelectObject(dc, pen);
        SetBkMode(dc, TRANSPARENT);
        MoveToEx(dc, line.x1, line.y1, nullptr);
        LineTo(dc, line.x2, line.y2);
        SelectObject(dc, old);
        DeleteObject(pen);
    }
    using Shape = platform::Drawing::Shape;
    for (const auto& mark : drawing_.marks) {
        const int r = mark.size / 2;
        const COLORREF colour = Rgb(mark.colour);
        HPEN pen = CreatePen(PS_SOLID, mark.shape == Shape::Cross ? 2 : 1, colour);
        HBRUSH fill =
            CreateSolidBrush(mark.shape == Shape::Ring ? Rgb(drawing_.background) : colour);
        HGDIOBJ oldPen = SelectObject(dc, pen);
        HGDIOBJ oldBrush =
            SelectObject(dc, mark.shape == Shape::Square ? GetStockObject(NULL_BRUSH) : fill);
        switch (mark.shape) {
            case Shape::Disc:
            case Shape::Ring:
                Ellipse(dc, mark.x - r, mark.y - r, mark.x + r + 1, mark.y + r + 1);
                break;
            case Shape::Square:
                Rectangle(dc, mark.x - r, mark.y - r, mark.x + r + 1, mark.y + r + 1);
                break;
            case Shape::Triangle: {
                const POINT points[] = {
                    {mark.x, mark.y - r}, {mark.x + r, mark.y + r}, {mark.x - r, mark.y + r}};
                Polygon(dc, points, 3);
                break;
            }
            case Shape::Cross:
                MoveToEx(dc, mark.x - r, mark.y - r, nullptr);
                LineTo(dc, mark.x + r + 1, mark.y + r + 1);
                MoveToEx(dc, mark.x + r, mark.y - r, nullptr);
                LineTo(dc, mark.x - r - 1, mark.y + r + 1);
                break;
        }
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(fill);
        DeleteObject(pen);
    }
    HGDIOBJ oldFont =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    for (const auto& text : drawing_.texts) {
        const std::wstring wide = widen(text.text);
        SIZE size{};
        GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
        int x = text.x;
        if (text.anchor == platform::Drawing::Anchor::Centre) x -= size.cx / 2;
        if (text.anchor == platform::Drawing::Anchor::Right) x -= size.cx;
        SetTextColor(dc, Rgb(text.colour));
        TextOutW(dc, x, text.y - metrics.tmHeight / 2, wide.c_str(), static_cast<int>(wide.size()));
    }
    SelectObject(dc, oldFont);
    if (GetFocus() == hwnd_) {
        RECT focus{1, 1, width - 1, height - 1};
        DrawFocusRect(dc, &focus);
    }

    BitBlt(target, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK Win32Canvas::proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                   DWORD_PTR ref) {
    auto* canvas = reinterpret_cast<Win32Canvas*>(ref);
    switch (msg) {
        case WM_PAINT:
            canvas->paint();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_GETDLGCODE:
            return DLGC_WANTARROWS;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            InvalidateRect(hwnd, nullptr, FALSE);
            break;
        case WM_LBUTTONDOWN:
            SetFocus(hwnd);
            return 0;
        case WM_MOUSEMOVE:
            if (canvas->onMouseMove) {
                const auto handler = canvas->onMouseMove;
                handler(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
            }
            return 0;
        case WM_KEYDOWN: {
            platform::CanvasKey key;
            switch (wParam) {
                case VK_LEFT:
                    key = platform::CanvasKey::Left;
                    break;
                case VK_RIGHT:
                    key = platform::CanvasKey::Right;
                    break;
                case VK_HOME:
                    key = platform::CanvasKey::Home;
                    break;
                case VK_END:
                    key = platform::CanvasKey::End;
                    break;
                default:
                    return DefSubclassProc(hwnd, msg, wParam, lParam);
            }
            if (canvas->onKey) {
                const auto handler = canvas->onKey;
                handler(key);
            }
            return 0;
        }
        default:
            break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

}  // namespace tempikon::win32
